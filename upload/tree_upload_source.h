#pragma once
// The tree as the upload sees it, through the archive's own walk and message rules: the same
// messages, folder names, mends, dates and read states as the archive, and the same report of
// what was adjusted or left out.

#include <cstdint>
#include <map>
#include <string>

#include "mail/file_system.h"
#include "mail/message_to_store.h"
#include "mail/open_folders.h"
#include "mail/run_report.h"
#include "mail/tree_walk.h"
#include "upload/upload_source.h"

namespace mailsheaf {

class TreeUploadSource final : public UploadSource, private TreeVisitor {
 public:
  // `root` ends with the separator. `run_time` dates a message with no usable time (its date,
  // file times and Received: fields all unusable).
  TreeUploadSource(FileSystem& fs, std::u16string root, int64_t run_time);

  void Count(uint64_t& messages, uint64_t& bytes) override;
  bool Walk(UploadVisitor& visitor, std::u16string& error) override;
  bool CopyTo(const Put& put, std::u16string& error) override;
  void Settle(uint64_t note, bool added) override;

  // What was adjusted or left out: of the messages, only what holds for those added.
  const RunReport& Report() const { return report_; }

 private:
  bool OnFolder(const WalkFolder& folder) override;
  bool OnMessage(const WalkMessage& message) override;
  void OnLeftOut(const std::u16string& path, const std::u16string& folder,
                 const std::u16string& why) override;
  void OnProblem(std::u16string reason) override;
  bool Stopped() override;

  FileSystem& fs_;
  const std::u16string root_;
  const int64_t run_time_;
  MessageToStore message_;
  RunReport report_;
  UploadVisitor* visitor_ = nullptr;
  std::u16string problem_;
  std::u16string top_folder_;  // the stored name of the current folder's top level
  std::map<uint64_t, RunReport> notes_;  // of messages handed over and not yet settled
  OpenFolders open_folders_;
  uint64_t next_note_ = 1;
};

}  // namespace mailsheaf
