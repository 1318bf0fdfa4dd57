// How one write flows.
// Walks: the writing walk (tree_walk.h) runs on the caller's thread and visits each folder and
//   message in the order they are stored; the sizing walk runs the same walk on a thread of its
//   own to add up the total for the percentages, and may stop the write early with a refusal
//   (a message too large to store).
// Threads: messages are read, mended and framed as tar on the caller's thread; the gzip member
//   compresses blocks on its own threads and writes them in order (gzip_member_writer.h).
// Events: every message raises ProgressInfo, every whole percent PercentDone, and a long
//   message (read, mended or copied) raises both again at least every kEventInterval.
// Stop: Stop() is looked at (KeepGoing) after every event, folder and piece; a stop or a
//   failure ends the write and Discard removes the temporary file, as the destructor does
//   whatever else unwinds it.
// Commit: the member is finished and the temporary file sealed, 100 is raised, the file is
//   moved over the destination, and the report is written (or an old one of ours removed).

#include "archive/tar_archive_run.h"

#include <algorithm>
#include <ctime>
#include <map>

#include "archive/folder_names.h"
#include "archive/long_lines.h"
#include "archive/importer_rules.h"
#include "archive/tar_header.h"
#include "archive/tree_walk.h"
#include "base/message_name.h"
#include "base/text.h"

namespace mailsheaf {

TarArchive::Run::Run(TarArchive& owner, const std::u16string& destination)
    : archive_(owner),
      fs_(owner.file_system_),
      output_(fs_),
      message_(fs_),
      sizer_(fs_, owner.options_.sizing),
      destination_(destination),
      run_time_(std::max<int64_t>(1, UsableTime(std::time(nullptr)))) {
  message_.SetTick([this] { return Heartbeat(); });
}

bool TarArchive::Run::Write() {
  std::u16string error;
  if (WalkStoresFile(fs_, archive_.root_, destination_)) return Fail(ReplacesMessage());
  if (!output_.Create(destination_, error)) return Fail(std::move(error));
  output_.RemoveStaleFiles();
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
  NoteMergingFolders();
  NoteShortfall();
  report_.stored = archive_.messages_stored_;
  WriteReportFile();
  archive_.report_ = std::move(report_);
  return true;
}

bool TarArchive::Run::IsOurReport(const std::u16string& path) {
  std::u16string ignored;
  std::unique_ptr<ReadableFile> file = fs_.OpenRead(path, ignored);
  if (!file) return false;
  unsigned char head[64];
  size_t have = 0;
  while (have < sizeof head) {
    const int64_t got = file->Read(head + have, sizeof head - have, ignored);
    if (got <= 0) break;
    have += static_cast<size_t>(got);
  }
  const std::string_view start(reinterpret_cast<const char*>(head), have);
  return start.rfind(kReportSignature, 0) == 0 || start.rfind(kEarlierReportSignature, 0) == 0;
}

void TarArchive::Run::WriteReportFile() {
  const std::u16string path = output_.folder() + ReportFileName(output_.name());
  const bool something_there = fs_.Exists(path);
  std::u16string error;
  if (report_.Empty()) {
    if (something_there && IsOurReport(path) && !fs_.RemoveFile(path, error)) {
      archive_.report_error_ = u"Cannot remove the earlier report " + path + u": " + error;
    }
    return;
  }
  if (something_there && !IsOurReport(path)) {
    archive_.report_error_ = u"A file Mailsheaf did not write is at " + path +
                             u"; it was left as it is, and the report was not written there.";
    return;
  }
  const bool windows = fs_.Separator() == u'\\';
  const std::string text =
      Utf16ToUtf8(ReportText(report_, destination_, windows ? u"\r\n" : u"\n"));
  AtomicOutput file(fs_, u"the report");
  if (!file.Create(path, error)) {
    archive_.report_error_ = error;
  } else if (!file.Put(reinterpret_cast<const unsigned char*>(text.data()), text.size())) {
    archive_.report_error_ = u"Cannot write the report " + path + u": " + file.error();
  } else if (!file.Seal(error) || !file.PutInPlace(error)) {
    archive_.report_error_ = error;
  } else {
    archive_.report_file_ = path;
  }
}

void TarArchive::Run::Discard() {
  sizer_.Stop();
  if (gzip_) gzip_->Abort();
  gzip_.reset();
  message_.Close();
  output_.Discard();
}

bool TarArchive::Run::OnFolder(const WalkFolder& folder) {
  const int64_t time = UsableTime(folder.mtime);
  if (!PutHeader({folder.stored, TarEntryType::kFolder, 0, time ? time : run_time_, 0755})) {
    return false;
  }
  ++archive_.folders_stored_;
  const std::u16string stored = Utf8ToUtf16(folder.stored);
  const std::u16string source = folder.source.substr(0, folder.source.size() - 1);
  if (!folder.renamed.empty()) {
    report_.renamed_folders.push_back({source, stored.substr(0, stored.size() - 1),
                                       folder.renamed});
  }
  folders_.push_back({source, stored.substr(0, stored.size() - 1)});
  folders_met_.insert(folder.source);
  return Progress();
}

void TarArchive::Run::OnLeftOut(const std::u16string& path, const std::u16string& folder,
                                const std::u16string& why) {
  const std::u16string name = path.substr(path.rfind(fs_.Separator()) + 1);
  if (IsMessageName(name)) ++found_[folder];  // counted as a message before the write
  if (why.empty()) {
    ++report_.other_files[KindOfOtherFile(name)];
  } else {
    report_.left_out.push_back({path, why});
  }
}

bool TarArchive::Run::OnMessage(const WalkMessage& message) {
  const std::u16string& path = message.path;
  const std::string& stored = message.stored;
  progress_.current_file = path;
  if (!RaiseInfo() || !SizingAllows()) return false;
  ++found_[message.folder];

  std::u16string error;
  switch (message_.Prepare(path, run_time_, error)) {
    case MessageToStore::Outcome::kStore:
      break;
    case MessageToStore::Outcome::kLeftOut:
      report_.left_out.push_back({path, message_.LeftOutWhy()});
      // Passed over, it still moves the bar as far as the sizing walk counted it.
      progress_.bytes_done += TarEntryBytes(stored.size(), message.listed_size);
      return Progress();
    case MessageToStore::Outcome::kFailed:
      return Fail(std::move(error));
    case MessageToStore::Outcome::kStopped:
      return false;
  }
  if (!message.renamed.empty()) {
    const std::u16string text = Utf8ToUtf16(stored);
    report_.renamed_messages.push_back({path, text.substr(text.rfind(u'/') + 1), message.renamed});
  }
  message_.NoteIn(report_);
  const uint64_t size = message_.Size();
  const uint32_t mode = message_.Read() ? 0644 : 0444;  // the importer's read flag
  if (!PutHeader({stored, TarEntryType::kFile, size, message_.Time(), mode})) return false;
  const bool copied = message_.CopyTo(
      [this](const unsigned char* data, size_t length) { return PutPiece(data, length); },
      error);
  message_.Close();
  if (!copied) return Fail(std::move(error));
  if (!PutPadding(size)) return false;
  ++archive_.messages_stored_;
  progress_.messages_stored = archive_.messages_stored_;
  const size_t slash = stored.find('/');
  if (slash != std::string::npos) {
    const std::u16string emptied = EmptiedSystemFolder(Utf8ToUtf16(stored.substr(0, slash)));
    if (!emptied.empty()) ++report_.emptied[emptied];
  }
  return Progress();
}

void TarArchive::Run::NoteMergingFolders() {
  std::map<std::u16string, std::vector<RunReport::Merged>> by_key;
  for (const RunReport::Merged& folder : folders_) {
    by_key[MergeKey(folder.stored + u"/")].push_back(folder);
  }
  for (auto& [key, group] : by_key) {
    if (group.size() > 1) report_.merging.push_back(std::move(group));
  }
}

void TarArchive::Run::NoteShortfall() {
  const auto& counted = archive_.counted_;
  if (counted.empty()) return;
  report_.counted = 0;
  for (const auto& [folder, n] : counted) {
    report_.counted += n;
    const auto found = found_.find(folder);
    const int64_t met = found == found_.end() ? 0 : found->second;
    if (met >= n) continue;
    const bool gone = met == 0 && !folder.empty() && !folders_met_.contains(folder);
    report_.shortfall.push_back(
        {folder.empty() ? folder : folder.substr(0, folder.size() - 1), n, met, gone});
  }
}

bool TarArchive::Run::Stopped() { return !KeepGoing(); }

bool TarArchive::Run::Fail(std::u16string reason) {
  if (!reason.empty()) archive_.Fail(std::move(reason));
  return false;
}

bool TarArchive::Run::KeepGoing() {
  if (!archive_.stop_requested_.load()) return true;
  return Fail(u"Writing the archive " + destination_ + u" was stopped.");
}

std::u16string TarArchive::Run::ReplacesMessage() const {
  return u"The archive would replace a message it has to store: " + destination_;
}

std::chrono::steady_clock::time_point TarArchive::Run::Now() const {
  const auto& clock = archive_.options_.clock;
  return clock ? clock() : std::chrono::steady_clock::now();
}

bool TarArchive::Run::PutPiece(const unsigned char* data, size_t length) {
  return Put(data, length) && Heartbeat() && Progress();
}

bool TarArchive::Run::Heartbeat() {
  const auto now = Now();
  if (now - last_info_ >= kEventInterval && !RaiseInfo()) return false;
  if (now - last_percent_time_ >= kEventInterval && !RaisePercent(CurrentPercent())) {
    return false;
  }
  return true;
}

bool TarArchive::Run::PutPadding(uint64_t size) {
  static const unsigned char kZeros[kTarBlockSize] = {};
  return Put(kZeros, TarPadding(size));
}

bool TarArchive::Run::Put(const unsigned char* data, size_t size) {
  if (!gzip_->Write(data, size)) return WriteFailed();
  progress_.bytes_done += size;
  return true;
}

bool TarArchive::Run::SizingAllows() {
  if (!sizer_.Known() || sizer_.Refusal().empty()) return true;
  return Fail(sizer_.Refusal());
}

bool TarArchive::Run::WriteFailed() {
  gzip_->Abort();
  const std::u16string& reason = output_.error();
  return Fail(u"Cannot write the archive " + destination_ + u": " +
              (reason.empty() ? u"the compressor failed" : reason));
}

bool TarArchive::Run::PutHeader(const TarEntry& entry) {
  header_.clear();
  if (!AppendTarHeader(entry, header_)) return Fail(u"Cannot store " + Utf8ToUtf16(entry.name));
  return Put(header_.data(), header_.size());
}

int32_t TarArchive::Run::CurrentPercent() {
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

bool TarArchive::Run::Progress() {
  const int32_t percent = CurrentPercent();
  if (!SizingAllows()) return false;
  if (percent == last_percent_) return KeepGoing();
  return RaisePercent(percent);
}

bool TarArchive::Run::RaisePercent(int32_t percent) {
  last_percent_ = percent;
  last_percent_time_ = Now();
  archive_.events_->PercentDone(percent, progress_);
  return KeepGoing();
}

bool TarArchive::Run::RaiseInfo() {
  last_info_ = Now();
  archive_.events_->ProgressInfo(kProgressKindMessage, progress_.current_file, progress_);
  return KeepGoing();
}

}  // namespace mailsheaf
