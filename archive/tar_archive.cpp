#include "archive/tar_archive.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "archive/atomic_output.h"
#include "archive/file_system.h"
#include "archive/gzip_member_writer.h"
#include "archive/message_reader.h"
#include "archive/tar_header.h"
#include "archive/tree_walk.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

constexpr int64_t kLastResortTime = 1;  // never 0: the importer would date the folder 1970

std::u16string Quoted(const std::u16string& text) { return u"\"" + text + u"\""; }

}  // namespace

// One write: the writing walk's visitor, feeding tar entries through the gzip member into the
// atomic output, and raising the events.
class TarArchive::Run final : public TreeVisitor {
 public:
  Run(TarArchive& owner, const std::u16string& destination)
      : archive_(owner),
        fs_(owner.file_system_),
        output_(fs_),
        reader_(fs_),
        sizer_(fs_, owner.options_.sizing),
        destination_(destination) {}
  // Also reached when a handler throws: nothing of the write survives it.
  ~Run() override { Discard(); }

  bool Write() {
    std::u16string error;
    if (WalkStoresFile(fs_, archive_.root_, destination_)) return Fail(ReplacesMessage());
    if (!output_.Create(destination_, error)) return Fail(std::move(error));
    gzip_ = std::make_unique<GzipMemberWriter>(output_, archive_.options_.threads);

    WalkExclusion exclusion;
    std::u16string ignored;
    exclusion.folder_known =
        fs_.FolderIdentity(output_.folder(), exclusion.folder, ignored) == Lookup::kFound;
    exclusion.destination_name = output_.name();
    exclusion.temporary_name = output_.temporary_name();
    sizer_.Start(archive_.root_, exclusion);
    if (!RaisePercent(0) || !WalkTree(fs_, archive_.root_, exclusion, *this)) return false;

    static const unsigned char kEnd[kTarEndSize] = {};
    if (!Put(kEnd, sizeof kEnd)) return false;
    if (!gzip_->Finish()) return WriteFailed();
    archive_.archive_size_ = gzip_->BytesOut();
    gzip_.reset();
    if (!output_.Seal(error)) return Fail(std::move(error));
    sizer_.Stop();
    if (!RaisePercent(100)) return false;
    if (!output_.PutInPlace(error)) return Fail(std::move(error));
    return true;
  }

  // Stops the compressor and the sizing walk and removes the temporary file; the destination
  // is never touched.
  void Discard() {
    sizer_.Stop();
    if (gzip_) gzip_->Abort();
    gzip_.reset();
    reader_.Close();
    output_.Discard();
  }

  // TreeVisitor: the writing walk.
  bool OnFolder(const std::string& stored, int64_t mtime) override {
    const int64_t time = mtime > 0 && static_cast<uint64_t>(mtime) <= kTarLargestNumber
                             ? mtime
                             : kLastResortTime;
    if (!PutHeader({stored, TarEntryType::kFolder, 0, time, 0755})) return false;
    ++archive_.folders_stored_;
    return Progress();
  }

  bool OnMessage(const std::u16string& path, const std::string& stored, uint64_t) override {
    progress_.current_file = path;
    if (!RaiseInfo() || !SizingAllows()) return false;

    std::u16string error;
    if (!reader_.Open(path, error)) return Fail(std::move(error));
    const uint64_t size = reader_.Size();
    if (!PutHeader({stored, TarEntryType::kFile, size, reader_.Time(), 0644})) return false;
    const bool copied = reader_.CopyTo(
        [this](const unsigned char* data, size_t length) {
          if (!Put(data, length)) return false;
          // A long message: the same file again, and the percentage even if unchanged.
          const auto now = Now();
          if (now - last_info_ >= kEventInterval && !RaiseInfo()) return false;
          if (now - last_percent_time_ >= kEventInterval && !RaisePercent(CurrentPercent())) {
            return false;
          }
          return Progress();
        },
        error);
    reader_.Close();
    if (!copied) return Fail(std::move(error));
    static const unsigned char kZeros[kTarBlockSize] = {};
    if (!Put(kZeros, TarPadding(size))) return false;
    ++archive_.messages_stored_;
    progress_.messages_stored = archive_.messages_stored_;
    return Progress();
  }

  void OnProblem(std::u16string reason) override { Fail(std::move(reason)); }

  bool Stopped() override {
    if (!StopRequested()) return false;
    StopFailure();
    return true;
  }

 private:
  // The first reason wins; an empty one adds nothing (a failure already on record).
  bool Fail(std::u16string reason) {
    if (!reason.empty()) archive_.Fail(std::move(reason));
    return false;
  }

  bool StopRequested() const {
    const std::atomic<bool>* flag = archive_.options_.stop_flag;
    return archive_.stop_requested_.load() || (flag != nullptr && flag->load());
  }
  bool StopFailure() {
    return Fail(u"Writing the archive " + destination_ + u" was stopped.");
  }

  std::u16string ReplacesMessage() const {
    return u"The archive would replace a message it has to store: " + destination_;
  }

  std::chrono::steady_clock::time_point Now() const {
    const auto& clock = archive_.options_.clock;
    return clock ? clock() : std::chrono::steady_clock::now();
  }

  bool Put(const unsigned char* data, size_t size) {
    if (!gzip_->Write(data, size)) return WriteFailed();
    progress_.bytes_done += size;
    return true;
  }

  // The sizing walk may already know that the archive cannot be written.
  bool SizingAllows() {
    if (!sizer_.Known() || sizer_.Refusal().empty()) return true;
    return Fail(sizer_.Refusal());
  }

  bool WriteFailed() {
    gzip_->Abort();
    const std::u16string& reason = output_.error();
    return Fail(u"Cannot write the archive " + destination_ + u": " +
                (reason.empty() ? u"the compressor failed" : reason));
  }

  bool PutHeader(const TarEntry& entry) {
    header_.clear();
    if (!AppendTarHeader(entry, header_)) return Fail(u"Cannot store " + Utf8ToUtf16(entry.name));
    return Put(header_.data(), header_.size());
  }

  // Until the end only 100 is held back: the archive is not in place before then.
  int32_t CurrentPercent() {
    if (!total_loaded_ && sizer_.Known()) {
      progress_.bytes_total = sizer_.Total();
      total_loaded_ = true;
    }
    const uint64_t total = progress_.bytes_total;
    if (total == 0) return std::max(last_percent_, 0);
    const auto percent =
        static_cast<int32_t>(std::min<uint64_t>(99, progress_.bytes_done * 100 / total));
    return std::max(percent, last_percent_);
  }

  // Raises PercentDone when the whole-number percentage changes; false when told to stop.
  bool Progress() {
    const int32_t percent = CurrentPercent();
    if (!SizingAllows()) return false;
    if (percent == last_percent_) return !StopRequested() || StopFailure();
    return RaisePercent(percent);
  }

  bool RaisePercent(int32_t percent) {
    last_percent_ = percent;
    last_percent_time_ = Now();
    archive_.events_->PercentDone(percent, progress_);
    return !StopRequested() || StopFailure();
  }

  bool RaiseInfo() {
    last_info_ = Now();
    archive_.events_->ProgressInfo(kProgressKindMessage, progress_.current_file, progress_);
    return !StopRequested() || StopFailure();
  }

  TarArchive& archive_;
  ArchiveFileSystem& fs_;
  AtomicOutput output_;
  MessageReader reader_;
  SizingWalker sizer_;
  const std::u16string destination_;
  std::unique_ptr<GzipMemberWriter> gzip_;
  ArchiveProgress progress_;
  bool total_loaded_ = false;
  int32_t last_percent_ = -1;
  std::chrono::steady_clock::time_point last_info_;
  std::chrono::steady_clock::time_point last_percent_time_;
  std::vector<unsigned char> header_;
};

TarArchive::TarArchive(ArchiveEvents* events)
    : TarArchive(events, RealFileSystem(),
                 {std::max(1u, std::thread::hardware_concurrency()),
                  SizingWalk::kBesideTheWriter, nullptr}) {}

TarArchive::TarArchive(ArchiveEvents* events, ArchiveFileSystem& file_system,
                       ArchiveOptions options)
    : events_(events), file_system_(file_system), options_(options) {}

TarArchive::~TarArchive() { Stop(); }

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
    // Asked without the separator: "file.eml/" names nothing, but "file.eml" is there.
    std::u16string bare = root;
    while (bare.size() > 1 && bare.back() == separator) bare.pop_back();
    return Fail(file_system_.Exists(bare) ? u"The source " + bare + u" is not a folder."
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
  if (run_.load() != nullptr) {
    last_error_ = u"An archive is already being written.";
    return 0;
  }
  last_error_.clear();
  messages_stored_ = folders_stored_ = 0;
  archive_size_ = 0;
  if (format_ != u"gnu") {
    return Fail(u"The archive format " + Quoted(format_) + u" is not supported; only \"gnu\" is.");
  }
  if (root_.empty()) return Fail(u"No source folder has been added.");

  Run run(*this, file_system_.AbsolutePath(destination));
  stop_requested_ = false;
  writing_thread_ = std::this_thread::get_id();
  run_ = &run;
  struct ClearOnExit {
    TarArchive& archive;
    ~ClearOnExit() {
      archive.run_ = nullptr;
      archive.writing_thread_ = std::thread::id();
    }
  } clear_on_exit{*this};
  const bool ok = run.Write();
  if (!ok) {
    run.Discard();
    archive_size_ = 0;
  }
  return ok ? 1 : 0;
}

void TarArchive::Stop() {
  Run* run = run_.load();
  if (run == nullptr) return;
  stop_requested_ = true;
  if (std::this_thread::get_id() == writing_thread_.load()) run->Discard();
}

}  // namespace mailsheaf
