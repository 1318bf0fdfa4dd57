#include "archive/tar_archive.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "archive/tar_archive_run.h"
#include "base/report_text.h"
#include "mail/file_system.h"

namespace mailsheaf {

TarArchive::TarArchive(ArchiveEvents* events)
    : TarArchive(events, RealFileSystem(),
                 {std::max(1u, std::thread::hardware_concurrency()),
                  SizingWalk::kBesideTheWriter}) {}

TarArchive::TarArchive(ArchiveEvents* events, FileSystem& file_system,
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
  report_ = {};
  report_file_.clear();
  report_error_.clear();
  if (format_ != u"gnu") {
    return Fail(u"The archive format " + Shown(format_) + u" is not supported; only \"gnu\" is.");
  }
  if (root_.empty()) return Fail(u"No source folder has been added.");

  // Through a link to the file it leads to, so that the link stays; never over a device.
  std::u16string target;
  std::u16string error;
  if (!file_system_.WriteTarget(file_system_.AbsolutePath(destination), target, error)) {
    return Fail(std::move(error));
  }
  Run run(*this, target);
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
