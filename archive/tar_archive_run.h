#pragma once
// One write of TarArchive, private to the writer: the writing walk's visitor, feeding tar
// entries through the gzip member into the atomic output, moving the progress meter and noting
// what had to be adjusted for the importer.

#include <cstdint>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "mail/open_folders.h"
#include "archive/atomic_output.h"
#include "mail/file_system.h"
#include "archive/gzip_member_writer.h"
#include "mail/message_to_store.h"
#include "archive/progress_meter.h"
#include "mail/run_report.h"
#include "archive/sizing_walk.h"
#include "archive/tar_archive.h"
#include "archive/tar_header.h"
#include "mail/tree_walk.h"

namespace mailsheaf {

class TarArchive::Run final : public TreeVisitor {
 public:
  Run(TarArchive& owner, const std::u16string& destination);
  // Whatever ends the write, an exception too, nothing of it survives.
  ~Run() override { Discard(); }

  bool Write();

  // Stops the compressor and the sizing walk and removes the temporary file; the destination
  // is never touched.
  void Discard();

  // TreeVisitor: the writing walk.
  bool OnFolder(const WalkFolder& folder) override;
  bool OnMessage(const WalkMessage& message) override;
  void OnLeftOut(const std::u16string& path, const std::u16string& folder,
                 const std::u16string& why) override;

  void OnProblem(std::u16string reason) override { Fail(std::move(reason)); }

  bool Stopped() override;

 private:
  // Folders that differ only in case or trailing spaces: Zimbra makes them one.
  void NoteMergingFolders();
  // Folders where the write found fewer messages than the count before it.
  void NoteShortfall();

  // The first reason wins; an empty one adds nothing (a failure already on record).
  bool Fail(std::u16string reason);

  // False once Stop() was called, with the stop on record as the write's failure.
  bool KeepGoing();

  std::u16string ReplacesMessage() const;

  // One piece of a message; during a long one the same file and the percentage are raised
  // again even when nothing else would raise them.
  bool PutPiece(const unsigned char* data, size_t length);

  bool PutPadding(uint64_t size);

  bool Put(const unsigned char* data, size_t size);

  // The sizing walk may already know that the archive cannot be written.
  bool SizingAllows();

  bool WriteFailed();

  bool PutHeader(const TarEntry& entry);

  TarArchive& archive_;
  FileSystem& fs_;
  AtomicOutput output_;
  MessageToStore message_;
  SizingWalker sizer_;
  const std::u16string destination_;
  std::unique_ptr<GzipMemberWriter> gzip_;
  ProgressMeter meter_;
  // The time stored when nothing else is usable: the importer would date 0 as 1970.
  const int64_t run_time_;
  RunReport report_;
  std::vector<RunReport::Merged> folders_;  // for the merge note
  std::map<std::u16string, int64_t> found_;  // messages met per folder, stored or left out
  std::set<std::u16string> folders_met_;
  OpenFolders open_folders_;
  bool StoreFolder(const WalkFolder& folder);
  std::vector<unsigned char> header_;
};

}  // namespace mailsheaf
