#pragma once
// The archive writer's one door to the platform's files. Production binds the real file system
// (wide long-path calls on Windows, UTF-8 names natively); tests bind fakes that fail on cue.
// Paths are absolute and in the platform's own form; failures show in return values, with
// the system's reason in `error`.
//
// Threads: during a write the sizing walk lists folders and asks folder identities from a
// thread of its own, at the same time as the writing walk calls every method from the writer's
// thread. An implementation must take concurrent calls (the real ones hold no shared state);
// each ReadableFile and WritableFile is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/file_identity.h"

namespace mailsheaf {

struct FolderEntry {
  std::u16string name;
  bool is_folder = false;  // a folder, or a link that leads to one
  bool is_link = false;    // a link (reparse point, symbolic link): may lead back into the walk
  // The name's bytes are not UTF-8: `name` keeps them as they are (BytesToName in base/text.h).
  bool not_utf8 = false;
  uint64_t size = 0;       // of a file, as listed; only a hint for the progress figures
  int64_t mtime = 0;       // seconds since 1970 UTC of the last change
  // Why the entry could not be examined (its kind is unknown), empty when it could. A link
  // whose target does not exist is examined: it is neither file nor folder.
  std::u16string examine_error;
};

// What looking a path up found.
enum class Lookup { kFound, kMissing, kFailed };

class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Bytes read into `buffer`, 0 at the end of the file, -1 on failure.
  virtual int64_t Read(unsigned char* buffer, size_t capacity, std::u16string& error) = 0;
  virtual bool Rewind(std::u16string& error) = 0;
  virtual uint64_t Size() const = 0;
  // Seconds since 1970-01-01 UTC of the last change to the contents.
  virtual int64_t ModifiedTime() const = 0;
  // Seconds since 1970-01-01 UTC of the last change to the file or its attributes (when it was
  // copied or unpacked here, for most files): a date that stays the same from run to run where
  // nothing better is known. 0 where the system cannot tell.
  virtual int64_t ChangeTime() const { return 0; }
  // Asks the system again whether the file still has the size and the change times it had
  // when it was opened: a rewrite of the same length shows only in its times. False with the
  // reason when it cannot tell.
  virtual bool Unchanged(bool& unchanged, std::u16string& error) = 0;
};

// A file being written under a temporary name, to be moved over its destination in the same
// folder once complete. Whatever ends it short of that (a failure, Close, the end of the
// process) leaves nothing of it at its name.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual bool Write(const unsigned char* data, size_t size, std::u16string& error) = 0;
  // Flushes the contents to the disk and gives the file its name, if it was made without one.
  // On failure the file is closed and gone.
  virtual bool Commit(std::u16string& error) = 0;
  // Moves the committed file over `name` in its folder, replacing a file there, and closes it.
  // On failure the file is closed and gone, and a file at `name` is untouched.
  virtual bool MoveOver(const std::u16string& name, std::u16string& error) = 0;
  // Closes the file and, unless it was moved over its destination, removes it. Harmless twice.
  virtual void Close() = 0;
};

// Held while an archive and its report are put in place (FileSystem::LockPlacing).
class PlacingLock {
 public:
  virtual ~PlacingLock() = default;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Waits until no other write (of this process or another) is putting an archive or a report
  // in place at `destination`, and keeps others waiting while it is held: two writes to one
  // destination at once then never leave one's archive beside the other's report. Null where
  // the system has no such lock.
  virtual std::unique_ptr<PlacingLock> LockPlacing(const std::u16string& /*destination*/) {
    return nullptr;
  }

  virtual char16_t Separator() const = 0;
  // The path made absolute in the platform's canonical form; empty text stays empty.
  virtual std::u16string AbsolutePath(const std::u16string& path) const = 0;
  // True when two names within one folder name the same entry (case-blind on Windows).
  virtual bool SameName(const std::u16string& a, const std::u16string& b) const = 0;

  virtual bool IsFolder(const std::u16string& path) const = 0;
  virtual bool Exists(const std::u16string& path) const = 0;
  // Every entry of a folder except "." and "..", in no particular order.
  virtual bool ListFolder(const std::u16string& path, std::vector<FolderEntry>& entries,
                          std::u16string& error) = 0;
  // Follows links: the identity of the folder a path finally leads to. kMissing when nothing
  // is there (a dangling link), kFailed with the reason when it cannot be examined.
  virtual Lookup FolderIdentity(const std::u16string& path, FileIdentity& identity,
                                std::u16string& error) = 0;

  // Where a write to `path` lands: the path itself, or the file a link there finally leads to
  // (the link stays a link). False with the reason when what is there is no file that an
  // archive may replace: a device, a pipe, a socket.
  virtual bool WriteTarget(const std::u16string& path, std::u16string& target,
                           std::u16string& error) = 0;

  // Removes a regular file; a link is removed itself, never what it leads to.
  virtual bool RemoveFile(const std::u16string& path, std::u16string& error) = 0;

  virtual std::unique_ptr<ReadableFile> OpenRead(const std::u16string& path,
                                                 std::u16string& error) = 0;
  // Creates a temporary file (temporary_name.h) to be named `path`, which must not exist yet.
  // Where the system can, the file stays out of sight until Commit names it, so that a process
  // killed before then leaves nothing; either way it is held until closed, so that another
  // run's RemoveStaleFiles leaves it alone.
  virtual std::unique_ptr<WritableFile> CreateNew(const std::u16string& path,
                                                  std::u16string& error) = 0;
  // Removes from `folder` the temporary files earlier runs left behind: entries with a
  // temporary name that are regular files, empty or starting with the gzip magic, and that no
  // running write holds. Best effort; a file that cannot be examined stays.
  virtual void RemoveStaleFiles(const std::u16string& folder) = 0;
};

// Why a destination that is a device, a pipe or a socket is refused.
inline std::u16string NotAFile(const std::u16string& path) {
  return u"The destination " + path +
         u" is a device or a pipe, not a file; the archive is written only to a file.";
}

// The machine's own file system; one instance serves every caller.
FileSystem& RealFileSystem();

}  // namespace mailsheaf
