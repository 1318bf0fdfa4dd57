#pragma once
// The archive reaches its destination whole or not at all: it is written to a temporary file
// beside the destination, flushed to the disk, and only then moved over it. Until then a file
// already at the destination is untouched, and whatever ends the write removes the temporary
// file; one that a killed run could not remove, the next write to the folder does.

#include <cstddef>
#include <memory>
#include <string>

#include "mail/file_system.h"
#include "archive/gzip_member_writer.h"

namespace mailsheaf {

class AtomicOutput final : public ByteSink {
 public:
  // `what` names the file in the reasons for a failure ("the archive", "the report").
  explicit AtomicOutput(FileSystem& fs, std::u16string what = u"the archive")
      : fs_(fs), what_(std::move(what)) {}
  ~AtomicOutput() override { Discard(); }
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  // Checks that `destination` (absolute) can name a file in an existing folder and creates the
  // temporary file beside the destination. False with the reason otherwise.
  bool Create(const std::u16string& destination, std::u16string& error);
  // Removes what killed runs left in the destination's folder; never a file a writer holds,
  // our own included. Once a write is enough: later files in the same folder skip it.
  void RemoveStaleFiles() { fs_.RemoveStaleFiles(folder_); }

  const std::u16string& folder() const { return folder_; }  // ends with the separator
  const std::u16string& name() const { return name_; }
  const std::u16string& temporary_name() const { return temporary_name_; }

  // ByteSink: appends to the temporary file; after a failure, error() says why.
  bool Put(const unsigned char* data, size_t size) override;
  const std::u16string& error() const { return error_; }

  // Flushes the temporary file to the disk and gives it its temporary name.
  bool Seal(std::u16string& error);
  // Moves the sealed file over the destination; from then on it is the destination's.
  bool PutInPlace(std::u16string& error);
  // Closes and removes the temporary file, if there is one of ours. Safe to call again.
  void Discard();

 private:
  bool ChooseTemporaryName();

  FileSystem& fs_;
  const std::u16string what_;
  std::u16string destination_;
  std::u16string folder_;
  std::u16string name_;
  std::u16string temporary_name_;
  std::unique_ptr<WritableFile> file_;  // set while a temporary file of ours exists
  std::u16string error_;
};

}  // namespace mailsheaf
