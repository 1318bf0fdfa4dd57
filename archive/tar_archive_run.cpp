// How one write flows.
// Walks: the writing walk (tree_walk.h) runs on the caller's thread and visits each folder and
//   message in the order they are stored; the sizing walk runs the same walk on a thread of its
//   own to add up the total for the percentages, and may stop the write early with a refusal
//   (a message too large to store).
// Threads: messages are read, mended and framed as tar on the caller's thread; the gzip member
//   compresses blocks on its own threads and writes them in order (gzip_member_writer.h).
// Events: the meter (progress_meter.h) raises ProgressInfo for every message, PercentDone for
//   every whole percent, and both again at least every kEventInterval during a long message
//   (read, mended or copied).
// Stop: Stop() is looked at (KeepGoing) after every event, folder and piece; a stop or a
//   failure ends the write and Discard removes the temporary file, as the destructor does
//   whatever else unwinds it.
// Commit: the member is finished and the temporary file sealed, 100 is raised; then, with the
//   destination locked against other writes, an old report of ours is removed, the file is
//   moved over the destination, and the new report written (report_file.h).

#include "archive/tar_archive_run.h"

#include <algorithm>
#include <ctime>
#include <map>

#include "mail/folder_names.h"
#include "mail/importer_rules.h"
#include "mail/long_lines.h"
#include "archive/report_file.h"
#include "archive/tar_header.h"
#include "mail/tree_walk.h"
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
      meter_(*owner.events_, owner.options_.clock, sizer_, [this] { return KeepGoing(); },
             [this] { return SizingAllows(); }),
      run_time_(std::max<int64_t>(1, UsableTime(std::time(nullptr)))) {
  message_.SetTick([this] { return meter_.Heartbeat(); });
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
  if (!meter_.RaisePercent(0) || !WalkTree(fs_, archive_.root_, exclusion, *this)) return false;

  static const unsigned char kEnd[kTarEndSize] = {};
  if (!Put(kEnd, sizeof kEnd)) return false;
  if (!gzip_->Finish()) return WriteFailed();
  archive_.archive_size_ = gzip_->BytesOut();
  gzip_.reset();
  if (!output_.Seal(error)) return Fail(std::move(error));
  sizer_.Stop();
  if (!meter_.RaisePercent(100)) return false;
  NoteMergingFolders();
  NoteShortfall();
  report_.stored = archive_.messages_stored_;
  const std::u16string report_path = output_.folder() + ReportFileName(output_.name());
  const std::unique_ptr<PlacingLock> placing = fs_.LockPlacing(output_.folder() + output_.name());
  // An old report that cannot go would stand beside the new archive: the old archive stays.
  if (!RemoveOurReport(fs_, report_path, error)) {
    return Fail(error + u" The new archive was not put in place.");
  }
  if (!output_.PutInPlace(error)) return Fail(std::move(error));
  const ReportFileOutcome report_file = WriteReportFile(fs_, report_, report_path, destination_);
  archive_.report_file_ = report_file.written;
  archive_.report_error_ = report_file.error;
  archive_.report_ = std::move(report_);
  return true;
}

void TarArchive::Run::Discard() {
  sizer_.Stop();
  if (gzip_) gzip_->Abort();
  gzip_.reset();
  message_.Close();
  output_.Discard();
}

bool TarArchive::Run::OnFolder(const WalkFolder& folder) {
  open_folders_.Enter(folder);
  folders_met_.insert(folder.source);
  // A folder is stored as the walk meets it, but one with a new name waits for a message.
  if (!open_folders_.RenameWaits() &&
      !open_folders_.StoreEach([this](const WalkFolder& f) { return StoreFolder(f); })) {
    return false;
  }
  return meter_.Progress();
}

bool TarArchive::Run::StoreFolder(const WalkFolder& folder) {
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
  return true;
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
  meter_.SetCurrentFile(path);
  if (!meter_.RaiseInfo() || !SizingAllows()) return false;
  ++found_[message.folder];

  std::u16string error;
  switch (message_.Prepare(path, run_time_, error)) {
    case MessageToStore::Outcome::kStore:
      break;
    case MessageToStore::Outcome::kLeftOut:
      report_.left_out.push_back({path, message_.LeftOutWhy()});
      // Passed over, it still moves the bar as far as the sizing walk counted it.
      meter_.AddBytes(TarEntryBytes(stored.size(), message.listed_size));
      return meter_.Progress();
    case MessageToStore::Outcome::kFailed:
      return Fail(std::move(error));
    case MessageToStore::Outcome::kStopped:
      return false;
  }
  if (!message.renamed.empty()) {
    const std::u16string text = Utf8ToUtf16(stored);
    report_.renamed_messages.push_back({path, text.substr(text.rfind(u'/') + 1), message.renamed});
  }
  if (!open_folders_.StoreEach([this](const WalkFolder& f) { return StoreFolder(f); })) {
    return false;
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
  meter_.SetMessagesStored(archive_.messages_stored_);
  const size_t slash = stored.find('/');
  if (slash != std::string::npos) {
    const std::u16string emptied = EmptiedSystemFolder(Utf8ToUtf16(stored.substr(0, slash)));
    if (!emptied.empty()) ++report_.emptied[emptied];
  }
  return meter_.Progress();
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

bool TarArchive::Run::PutPiece(const unsigned char* data, size_t length) {
  return Put(data, length) && meter_.Heartbeat() && meter_.Progress();
}

bool TarArchive::Run::PutPadding(uint64_t size) {
  static const unsigned char kZeros[kTarBlockSize] = {};
  return Put(kZeros, TarPadding(size));
}

bool TarArchive::Run::Put(const unsigned char* data, size_t size) {
  if (!gzip_->Write(data, size)) return WriteFailed();
  meter_.AddBytes(size);
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

}  // namespace mailsheaf
