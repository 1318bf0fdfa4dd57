#include "archive/tar_archive.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "archive/file_system.h"
#include "archive/gzip_member_writer.h"
#include "archive/message_date.h"
#include "archive/tar_header.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

constexpr size_t kReadBufferSize = 256 * 1024;
constexpr int64_t kLastResortTime = 1;  // never 0: the importer would date the message 1970

bool IsMessageName(const std::u16string& name) {
  if (name.size() < 4) return false;
  const std::u16string_view ext(name.data() + name.size() - 4, 4);
  auto is = [](char16_t c, char16_t lower) { return c == lower || c == lower - 32; };
  return ext[0] == u'.' && is(ext[1], u'e') && is(ext[2], u'm') && is(ext[3], u'l');
}

// The name as the archive stores it: UTF-8, and a message's extension in lower case, which is
// how the importer recognises a message.
std::string StoredName(const std::u16string& name, bool message) {
  std::string stored = Utf16ToUtf8(name);
  if (message) stored.replace(stored.size() - 4, 4, ".eml");
  return stored;
}

int64_t UsableTime(int64_t time) {
  return time > 0 && static_cast<uint64_t>(time) <= kTarLargestNumber ? time : 0;
}

struct Entry {
  std::u16string name;
  std::string stored;
  uint64_t size = 0;
  int64_t mtime = 0;
  bool is_link = false;
};

bool StoredOrder(const Entry& a, const Entry& b) {
  return a.stored != b.stored ? a.stored < b.stored : a.name < b.name;
}

class FileSink final : public ByteSink {
 public:
  explicit FileSink(WritableFile& file) : file_(file) {}
  bool Put(const unsigned char* data, size_t size) override {
    return file_.Write(data, size, error_);
  }
  const std::u16string& error() const { return error_; }

 private:
  WritableFile& file_;
  std::u16string error_;
};

std::u16string Quoted(const std::u16string& text) { return u"\"" + text + u"\""; }

}  // namespace

struct TarArchive::Run {
  explicit Run(TarArchive& owner)
      : archive(owner), fs(owner.file_system_), separator(fs.Separator()) {}

  TarArchive& archive;
  ArchiveFileSystem& fs;
  const char16_t separator;

  // The first walk only adds up the message sizes that the percentages are taken of. It runs on
  // a thread of its own beside the writing walk, which does not wait for it; until its total is
  // known no percentage but the first 0 is raised.
  std::thread sizer;
  std::atomic<bool> stop_sizing{false};
  std::atomic<bool> total_known{false};
  uint64_t sized_total = 0;  // written by the sizer before it sets total_known
  bool total_loaded = false;
  bool discarded = false;
  std::u16string destination;
  std::u16string destination_folder;
  std::u16string destination_name;
  std::u16string temp_name;
  std::u16string temp_path;  // set while a temporary file of ours exists
  bool destination_folder_known = false;
  FileIdentity destination_folder_id;

  std::unique_ptr<WritableFile> temp;
  std::unique_ptr<FileSink> sink;
  std::unique_ptr<GzipMemberWriter> gzip;

  int32_t last_percent = -1;
  std::vector<unsigned char> header;
  std::vector<unsigned char> buffer;

  struct Frame {
    std::u16string path;    // ends with the separator
    std::string relative;   // as stored: empty for the root, else ends with "/"
    std::vector<Entry> folders;
    size_t next = 0;
    bool known = false;
    FileIdentity id;
  };

  // Also reached when a handler throws: nothing of the write survives it.
  ~Run() { Clean(); }

  bool Fail(std::u16string reason) { return archive.Fail(std::move(reason)); }
  // A problem met by the sizing walk is not reported: the writing walk meets it too.
  bool Problem(bool writing, std::u16string reason) {
    return writing ? Fail(std::move(reason)) : false;
  }
  bool Discarded() { return discarded && Fail(u"The unfinished archive was discarded."); }

  // Both walks: depth-first, each folder's messages in name order before its sub-folders in
  // name order. Only the sub-folders still to visit are held, one list per level. The sizing
  // walk (writing false) adds the message sizes to `sized` and touches nothing else of the run.
  bool Walk(bool writing, uint64_t* sized) {
    std::vector<Frame> stack;
    Frame root;
    root.path = archive.root_;
    std::u16string ignored;
    root.known = fs.FolderIdentity(root.path, root.id, ignored);
    if (!Enter(root, writing, sized)) return false;
    stack.push_back(std::move(root));
    while (!stack.empty()) {
      if (!writing && stop_sizing) return false;
      Frame& top = stack.back();
      if (top.next == top.folders.size()) {
        stack.pop_back();
        continue;
      }
      const Entry sub = top.folders[top.next++];
      Frame child;
      child.path = top.path + sub.name + separator;
      child.relative = top.relative + sub.stored + "/";
      child.known = fs.FolderIdentity(child.path, child.id, ignored);
      if (sub.is_link) {
        if (!child.known) continue;  // a link that leads nowhere holds no messages
        const bool back_into_walk = std::any_of(stack.begin(), stack.end(), [&](const Frame& f) {
          return f.known && f.id == child.id;
        });
        if (back_into_walk) {
          if (writing && !StoreFolder(child.relative, sub.mtime)) return false;
          continue;
        }
      }
      if (writing && !StoreFolder(child.relative, sub.mtime)) return false;
      if (!Enter(child, writing, sized)) return false;
      stack.push_back(std::move(child));
    }
    return true;
  }

  // Lists a folder and stores (or, in the first walk, sizes) its messages; keeps its
  // sub-folders in the frame for the walk.
  bool Enter(Frame& frame, bool writing, uint64_t* sized) {
    std::vector<FolderEntry> listing;
    std::u16string error;
    if (!fs.ListFolder(frame.path, listing, error)) {
      return Problem(writing, u"Cannot list the folder " + frame.path + u": " + error);
    }
    const bool holds_destination = destination_folder_known && frame.known &&
                                   frame.id == destination_folder_id;
    std::vector<Entry> messages;
    for (FolderEntry& item : listing) {
      if (holds_destination &&
          (fs.SameName(item.name, destination_name) ||
           (!temp_name.empty() && fs.SameName(item.name, temp_name)))) {
        continue;
      }
      const bool message = !item.is_folder && IsMessageName(item.name);
      if (!message && !item.is_folder) continue;
      // Resource forks from macOS archives: the importer skips this top-level folder.
      if (item.is_folder && frame.relative.empty() && item.name == u"__MACOSX") continue;
      if (!item.name_ok) {
        return Problem(writing, u"The name of " + frame.path + item.name +
                    u" is not valid UTF-8, so the archive cannot store it.");
      }
      Entry entry{std::move(item.name), {}, item.size, item.mtime, item.is_link};
      entry.stored = StoredName(entry.name, message);
      (message ? messages : frame.folders).push_back(std::move(entry));
    }
    std::sort(messages.begin(), messages.end(), StoredOrder);
    std::sort(frame.folders.begin(), frame.folders.end(), StoredOrder);
    for (const Entry& message : messages) {
      if (!writing) {
        *sized += message.size;
      } else if (!StoreMessage(frame.path + message.name, frame.relative + message.stored)) {
        return false;
      }
    }
    return true;
  }

  bool TooLarge(const std::u16string& path) {
    return Fail(u"The message " + path +
                u" is 8 GiB or larger, more than the archive format can hold.");
  }

  bool Put(const unsigned char* data, size_t size) {
    if (gzip->Write(data, size)) return true;
    return WriteFailed();
  }

  bool WriteFailed() {
    gzip->Abort();
    const std::u16string& reason = sink->error();
    return Fail(u"Cannot write the archive " + destination + u": " +
                (reason.empty() ? u"the compressor failed" : reason));
  }

  bool PutHeader(const TarEntry& entry) {
    header.clear();
    if (!AppendTarHeader(entry, header)) return Fail(u"Cannot store " + Utf8ToUtf16(entry.name));
    return Put(header.data(), header.size());
  }

  bool PutPadding(uint64_t size) {
    static const unsigned char kZeros[kTarBlockSize] = {};
    return Put(kZeros, TarPadding(size));
  }

  bool StoreFolder(const std::string& relative, int64_t mtime) {
    const int64_t time = UsableTime(mtime);
    if (!PutHeader({relative, TarEntryType::kFolder, 0, time ? time : kLastResortTime, 0755})) {
      return false;
    }
    ++archive.folders_stored_;
    return true;
  }

  // Reads until `want` bytes are in, or the file ends.
  bool ReadUpTo(ReadableFile& file, const std::u16string& path, size_t want, size_t& have) {
    have = 0;
    while (have < want) {
      std::u16string error;
      const int64_t got = file.Read(buffer.data() + have, want - have, error);
      if (got < 0) return Fail(u"Cannot read the message " + path + u": " + error);
      if (got == 0) break;
      have += static_cast<size_t>(got);
    }
    return true;
  }

  bool ChangedSize(const std::u16string& path) {
    return Fail(u"The message " + path +
                u" changed size while it was being read; nothing was stored from it.");
  }

  bool StoreMessage(const std::u16string& path, const std::string& relative) {
    archive.events_->ProgressInfo(kProgressKindMessage, path);
    if (discarded) return Discarded();

    std::u16string error;
    std::unique_ptr<ReadableFile> file = fs.OpenRead(path, error);
    if (!file) return Fail(u"Cannot open the message " + path + u": " + error);
    const uint64_t size = file->Size();
    if (size > kTarLargestNumber) return TooLarge(path);

    // The header section usually fits in the first buffer; when it does not, it is read on to
    // its end for the date and the message is read again from its start.
    uint64_t remaining = size;
    size_t have = 0;
    const size_t first = static_cast<size_t>(std::min<uint64_t>(buffer.size(), remaining));
    if (!ReadUpTo(*file, path, first, have)) return false;
    if (have < first) return ChangedSize(path);
    MessageDateScanner scanner;
    scanner.Feed(buffer.data(), have);
    if (!scanner.Done() && have == remaining) scanner.Finish();
    if (!scanner.Done()) {
      while (!scanner.Done()) {
        size_t more = 0;
        if (!ReadUpTo(*file, path, buffer.size(), more)) return false;
        if (more == 0) scanner.Finish();
        scanner.Feed(buffer.data(), more);
      }
      if (!file->Rewind(error)) return Fail(u"Cannot read the message " + path + u": " + error);
      have = 0;
    }
    int64_t mtime = UsableTime(scanner.Date().value_or(0));
    if (mtime == 0) mtime = UsableTime(file->ModifiedTime());
    if (mtime == 0) mtime = kLastResortTime;

    if (!PutHeader({relative, TarEntryType::kFile, size, mtime, 0644})) return false;
    for (;;) {
      if (have > 0) {
        if (!Put(buffer.data(), have)) return false;
        remaining -= have;
        archive.bytes_done_ += have;
        if (!Progress()) return false;
      }
      if (remaining == 0) break;
      const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), remaining));
      if (!ReadUpTo(*file, path, want, have)) return false;
      if (have == 0) return ChangedSize(path);
    }
    // The file must end where its size said it would.
    size_t extra = 0;
    if (!ReadUpTo(*file, path, 1, extra)) return false;
    if (extra != 0) return ChangedSize(path);
    if (!PutPadding(size)) return false;
    ++archive.messages_stored_;
    return true;
  }

  // Raises PercentDone when the whole-number percentage changes; false when told to stop.
  bool Progress() {
    if (!total_loaded) {
      if (!total_known.load(std::memory_order_acquire)) return true;
      archive.bytes_total_ = sized_total;
      total_loaded = true;
    }
    const uint64_t total = archive.bytes_total_;
    const auto percent = static_cast<int32_t>(
        total == 0 ? 0 : std::min<uint64_t>(99, archive.bytes_done_ * 100 / total));
    if (percent == last_percent) return true;
    return RaisePercent(percent);
  }

  bool RaisePercent(int32_t percent) {
    last_percent = percent;
    bool abort = false;
    archive.events_->PercentDone(percent, abort);
    if (discarded) return Discarded();
    if (abort) return Fail(u"Writing the archive " + destination + u" was stopped.");
    return true;
  }

  bool CreateTemporaryFile() {
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100 && temp_name.empty(); ++attempt) {
      std::u16string name = destination_name + u".part";
      for (int i = 0; i < 8; ++i) name.push_back(u"0123456789abcdef"[random() % 16]);
      if (!fs.Exists(destination_folder + name)) temp_name = std::move(name);
    }
    std::u16string error = u"no free temporary name";
    if (!temp_name.empty()) temp = fs.CreateNew(destination_folder + temp_name, error);
    if (!temp) {
      return Fail(u"Cannot create a file in the destination folder " + destination_folder +
                  u": " + error);
    }
    temp_path = destination_folder + temp_name;
    return true;
  }

  void StartSizing() {
    sizer = std::thread([this] {
      uint64_t total = 0;
      sized_total = Walk(false, &total) ? total : 0;
      total_known.store(true, std::memory_order_release);
    });
  }

  void StopSizing() {
    stop_sizing = true;
    if (sizer.joinable()) sizer.join();
  }

  // Stops the compressor and removes the temporary file; the destination is never touched.
  void Clean() {
    StopSizing();
    if (gzip) gzip->Abort();
    gzip.reset();
    if (temp) temp->Close();
    temp.reset();
    if (!temp_path.empty()) fs.Remove(temp_path);
    temp_path.clear();
  }
};

TarArchive::TarArchive(ArchiveEvents* events)
    : TarArchive(events, RealFileSystem(), std::max(1u, std::thread::hardware_concurrency())) {}

TarArchive::TarArchive(ArchiveEvents* events, ArchiveFileSystem& file_system, unsigned threads)
    : events_(events), file_system_(file_system), threads_(threads) {}

TarArchive::~TarArchive() { DiscardUnfinished(); }

bool TarArchive::Fail(std::u16string reason) {
  if (last_error_.empty()) last_error_ = std::move(reason);
  return false;
}

void TarArchive::SetArchiveFormat(const std::u16string& format) { format_ = format; }

int32_t TarArchive::AddRootFolder(const std::u16string& path) {
  last_error_.clear();
  root_.clear();
  if (path.empty()) return Fail(u"No source folder was given.");
  const char16_t separator = file_system_.Separator();
  std::u16string root = file_system_.AbsolutePath(path);
  while (root.size() > 1 && root.back() == separator && root[root.size() - 2] == separator) {
    root.pop_back();
  }
  if (root.back() != separator) root.push_back(separator);
  if (!file_system_.IsFolder(root)) {
    return Fail(file_system_.Exists(root) ? u"The source " + root + u" is not a folder."
                                          : u"The source folder " + root + u" does not exist.");
  }
  std::vector<FolderEntry> entries;
  std::u16string error;
  if (!file_system_.ListFolder(root, entries, error)) {
    return Fail(u"Cannot list the folder " + root + u": " + error);
  }
  root_ = std::move(root);
  return 1;
}

int32_t TarArchive::WriteCompressedArchive(const std::u16string& destination) {
  if (run_ != nullptr) {
    last_error_ = u"An archive is already being written.";
    return 0;
  }
  last_error_.clear();
  messages_stored_ = folders_stored_ = 0;
  archive_size_ = bytes_done_ = bytes_total_ = 0;
  Run run(*this);
  run.destination = destination;
  run_ = &run;
  struct ClearOnExit {
    Run*& slot;
    ~ClearOnExit() { slot = nullptr; }
  } clear_on_exit{run_};
  const bool ok = Write(run);
  if (!ok) {
    run.Clean();
    archive_size_ = 0;
  }
  return ok ? 1 : 0;
}

bool TarArchive::Write(Run& run) {
  if (format_ != u"gnu") {
    return Fail(u"The archive format " + Quoted(format_) + u" is not supported; only \"gnu\" is.");
  }
  if (root_.empty()) return Fail(u"No source folder has been added.");
  if (run.destination.empty()) return Fail(u"No destination file was given.");

  const char16_t separator = file_system_.Separator();
  run.destination = file_system_.AbsolutePath(run.destination);
  const std::u16string& destination = run.destination;
  if (destination.back() == separator || file_system_.IsFolder(destination)) {
    return Fail(u"The destination " + destination + u" is a folder, not a file name.");
  }
  const size_t cut = destination.rfind(separator);
  run.destination_folder = destination.substr(0, cut + 1);
  run.destination_name = destination.substr(cut + 1);
  if (!file_system_.IsFolder(run.destination_folder)) {
    return Fail(u"The destination folder " + run.destination_folder + u" does not exist.");
  }
  std::u16string ignored;
  run.destination_folder_known =
      file_system_.FolderIdentity(run.destination_folder, run.destination_folder_id, ignored);

  if (!run.CreateTemporaryFile()) return false;
  run.sink = std::make_unique<FileSink>(*run.temp);
  run.gzip = std::make_unique<GzipMemberWriter>(*run.sink, threads_);
  run.buffer.resize(kReadBufferSize);
  run.StartSizing();
  if (!run.RaisePercent(0) || !run.Walk(true, nullptr)) return false;

  static const unsigned char kEnd[kTarEndSize] = {};
  if (!run.Put(kEnd, sizeof kEnd)) return false;
  if (!run.gzip->Finish()) return run.WriteFailed();
  archive_size_ = run.gzip->BytesOut();
  run.gzip.reset();
  std::u16string error;
  if (!run.temp->Commit(error)) {
    return Fail(u"Cannot write the archive " + destination + u": " + error);
  }
  run.temp.reset();
  run.StopSizing();
  if (!run.RaisePercent(100)) return false;
  if (!file_system_.Replace(run.temp_path, destination, error)) {
    return Fail(u"Cannot put the archive in place at " + destination + u": " + error);
  }
  run.temp_path.clear();
  return true;
}

void TarArchive::DiscardUnfinished() {
  if (run_ == nullptr || run_->discarded) return;
  run_->discarded = true;
  run_->Clean();
}

}  // namespace mailsheaf
