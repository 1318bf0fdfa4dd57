// The native file system: UTF-8 names over the POSIX calls.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "archive/file_system.h"
#include "archive/file_system_posix.h"
#include "archive/temporary_name.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

std::u16string ErrnoText(int code) { return Utf8ToUtf16(std::strerror(code)); }

std::string Native(const std::u16string& path) { return Utf16ToUtf8(path); }

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A link whose target is not there at all, as opposed to one that cannot be examined.
bool NothingThere(int code) { return code == ENOENT || code == ENOTDIR || code == ELOOP; }

class PosixReadableFile final : public ReadableFile {
 public:
  PosixReadableFile(int fd, const struct stat& info) : fd_(fd), info_(info) {}
  ~PosixReadableFile() override { ::close(fd_); }

  int64_t Read(unsigned char* buffer, size_t capacity, std::u16string& error) override {
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, capacity);
      if (got >= 0) return got;
      if (errno == EINTR) continue;
      error = ErrnoText(errno);
      return -1;
    }
  }

  bool Rewind(std::u16string& error) override {
    if (::lseek(fd_, 0, SEEK_SET) == 0) return true;
    error = ErrnoText(errno);
    return false;
  }

  uint64_t Size() const override { return static_cast<uint64_t>(info_.st_size); }
  int64_t ModifiedTime() const override { return static_cast<int64_t>(info_.st_mtime); }

  bool Unchanged(bool& unchanged, std::u16string& error) override {
    struct stat now;
    if (::fstat(fd_, &now) != 0) {
      error = ErrnoText(errno);
      return false;
    }
    unchanged = now.st_size == info_.st_size && SameTime(now.st_mtim, info_.st_mtim) &&
                SameTime(now.st_ctim, info_.st_ctim);
    return true;
  }

 private:
  int fd_;
  struct stat info_;
};

// A temporary file in the folder `dir_fd` names, held with an exclusive flock while it is open
// so that another run's stale-file cleanup passes it by. Made with O_TMPFILE it has no name
// until Commit links it in; every call is relative to the folder, so that only the length of
// the names matters, never that of the whole path.
class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(int dir_fd, int fd, std::string name, bool named)
      : dir_fd_(dir_fd), fd_(fd), name_(std::move(name)), named_(named) {}
  ~PosixWritableFile() override { Close(); }

  bool Write(const unsigned char* data, size_t size, std::u16string& error) override {
    while (size > 0) {
      const ssize_t put = ::write(fd_, data, size);
      if (put < 0) {
        if (errno == EINTR) continue;
        error = ErrnoText(errno);
        return false;
      }
      data += put;
      size -= static_cast<size_t>(put);
      written_ += static_cast<uint64_t>(put);
    }
    // Start writing back what has piled up, so that the flush at the end has little left to do.
    if (written_ - flushed_ >= kWritebackStep) {
      ::sync_file_range(fd_, static_cast<off_t>(flushed_), static_cast<off_t>(written_ - flushed_),
                        SYNC_FILE_RANGE_WRITE);
      flushed_ = written_;
    }
    return true;
  }

  bool Commit(std::u16string& error) override {
    if (::fdatasync(fd_) != 0) return Fail(error);
    if (!named_) {
      // linkat with AT_EMPTY_PATH would need a capability; the /proc link does not.
      const std::string self = "/proc/self/fd/" + std::to_string(fd_);
      if (::linkat(AT_FDCWD, self.c_str(), dir_fd_, name_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        return Fail(error);
      }
      named_ = true;
    }
    return true;
  }

  bool MoveOver(const std::u16string& name, std::u16string& error) override {
    if (!named_) errno = EBADF;  // not committed
    if (!named_ || ::renameat(dir_fd_, name_.c_str(), dir_fd_, Native(name).c_str()) != 0) {
      return Fail(error);
    }
    named_ = false;
    Close();
    return true;
  }

  void Close() override {
    // Unlinked while the lock is still held: no other run can take the name for a stale file.
    if (named_) ::unlinkat(dir_fd_, name_.c_str(), 0);
    named_ = false;
    if (fd_ >= 0) ::close(fd_);
    if (dir_fd_ >= 0) ::close(dir_fd_);
    fd_ = dir_fd_ = -1;
  }

 private:
  bool Fail(std::u16string& error) {
    error = ErrnoText(errno);
    Close();
    return false;
  }

  static constexpr uint64_t kWritebackStep = 8 << 20;
  int dir_fd_;
  int fd_;
  std::string name_;
  bool named_;
  uint64_t written_ = 0;
  uint64_t flushed_ = 0;
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A new file in the folder, out of sight, or -1 where the system or the file system cannot:
// no O_TMPFILE (EOPNOTSUPP, or EISDIR and EINVAL from older kernels) or no /proc to link it by.
int OpenUnnamed(int dir_fd) {
  const int fd = ::openat(dir_fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  struct stat info;
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::stat(self.c_str(), &info) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

class PosixFileSystem final : public ArchiveFileSystem {
 public:
  char16_t Separator() const override { return u'/'; }

  std::u16string AbsolutePath(const std::u16string& path) const override {
    if (path.empty() || path.front() == u'/') return path;
    std::string cwd(PATH_MAX, '\0');
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) return path;
    cwd.resize(std::strlen(cwd.c_str()));
    std::u16string full = Utf8ToUtf16(cwd);
    if (full.empty() || full.back() != u'/') full.push_back(u'/');
    return full + path;
  }

  bool SameName(const std::u16string& a, const std::u16string& b) const override { return a == b; }

  bool IsFolder(const std::u16string& path) const override {
    struct stat info;
    return ::stat(Native(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }

  bool Exists(const std::u16string& path) const override {
    struct stat info;
    return ::lstat(Native(path).c_str(), &info) == 0;
  }

  bool ListFolder(const std::u16string& path, std::vector<FolderEntry>& entries,
                  std::u16string& error) override {
    entries.clear();
    DIR* dir = ::opendir(Native(path).c_str());
    if (dir == nullptr) {
      error = ErrnoText(errno);
      return false;
    }
    const int dir_fd = ::dirfd(dir);
    for (;;) {
      errno = 0;
      const dirent* item = ::readdir(dir);
      if (item == nullptr) {
        if (errno != 0) {
          error = ErrnoText(errno);
          ::closedir(dir);
          return false;
        }
        break;
      }
      const std::string raw = item->d_name;
      if (raw == "." || raw == "..") continue;
      FolderEntry entry;
      entry.name = Utf8ToUtf16(raw);
      entry.name_ok = Utf16ToUtf8(entry.name) == raw;
      struct stat info;
      if (::fstatat(dir_fd, raw.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;  // gone since it was listed
        entry.examine_error = ErrnoText(errno);
      } else {
        if (S_ISLNK(info.st_mode)) {
          entry.is_link = true;
          // A link counts as what it leads to; a dangling one as neither file nor folder.
          if (::fstatat(dir_fd, raw.c_str(), &info, 0) != 0) {
            if (!NothingThere(errno)) entry.examine_error = ErrnoText(errno);
            info.st_mode = 0;
          }
        }
        entry.is_folder = S_ISDIR(info.st_mode);
        if (S_ISREG(info.st_mode)) entry.size = static_cast<uint64_t>(info.st_size);
        entry.mtime = static_cast<int64_t>(info.st_mtime);
      }
      entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return true;
  }

  Lookup FolderIdentity(const std::u16string& path, FileIdentity& identity,
                        std::u16string& error) override {
    struct stat info;
    if (::stat(Native(path).c_str(), &info) != 0) {
      const int code = errno;
      error = ErrnoText(code);
      return NothingThere(code) ? Lookup::kMissing : Lookup::kFailed;
    }
    identity.volume = static_cast<uint64_t>(info.st_dev);
    identity.index = static_cast<uint64_t>(info.st_ino);
    return Lookup::kFound;
  }

  std::unique_ptr<ReadableFile> OpenRead(const std::u16string& path,
                                         std::u16string& error) override {
    // Non-blocking, so that a FIFO named like a message cannot hang the open; it makes no
    // difference to reading a regular file, the only kind accepted.
    const int fd = ::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      error = ErrnoText(errno);
      return nullptr;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
      error = ErrnoText(errno);
      ::close(fd);
      return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
      error = u"Not a regular file";
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixReadableFile>(fd, info);
  }

  std::unique_ptr<WritableFile> CreateNew(const std::u16string& path,
                                          std::u16string& error) override {
    const std::string native = Native(path);
    const size_t cut = native.rfind('/');
    const std::string folder = cut == 0 ? "/" : native.substr(0, cut);
    const std::string name = native.substr(cut + 1);
    const int dir_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) {
      error = ErrnoText(errno);
      return nullptr;
    }
    int fd = unnamed_ ? OpenUnnamed(dir_fd) : -1;
    const bool named = fd < 0;
    if (named) {
      fd = ::openat(dir_fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    }
    struct stat opened, listed;
    bool ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &opened) == 0;
    if (ok && named) {
      // Between the creation and the lock another run may have taken the empty file for a
      // stale one and removed it.
      ok = ::fstatat(dir_fd, name.c_str(), &listed, AT_SYMLINK_NOFOLLOW) == 0;
      if (ok && !SameFile(opened, listed)) {
        errno = ENOENT;
        ok = false;
      }
    }
    if (!ok) {
      error = ErrnoText(errno);
      if (fd >= 0) ::close(fd);
      ::close(dir_fd);
      return nullptr;
    }
    return std::make_unique<PosixWritableFile>(dir_fd, fd, name, named);
  }

  void RemoveStaleFiles(const std::u16string& folder) override {
    const int dir_fd = ::open(Native(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) return;
    DIR* dir = ::fdopendir(::dup(dir_fd));
    if (dir == nullptr) {
      ::close(dir_fd);
      return;
    }
    std::vector<std::string> candidates;
    while (const dirent* item = ::readdir(dir)) {
      const std::string raw = item->d_name;
      const std::u16string name = Utf8ToUtf16(raw);
      if (Utf16ToUtf8(name) == raw && IsTemporaryName(name)) candidates.push_back(raw);
    }
    ::closedir(dir);
    for (const std::string& name : candidates) RemoveIfStale(dir_fd, name);
    ::close(dir_fd);
  }

  // For the tests: the route without O_TMPFILE, as on a system that lacks it.
  void set_unnamed(bool unnamed) { unnamed_ = unnamed; }

 private:
  static void RemoveIfStale(int dir_fd, const std::string& name) {
    const int fd = ::openat(dir_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat opened, listed;
    unsigned char head[2];
    ssize_t got = -1;
    // A running write holds its file's lock until the file is gone or put in place.
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      got = ::pread(fd, head, sizeof head, 0);
    }
    if (got >= 0 && IsTemporaryContent(head, static_cast<size_t>(got)) &&
        ::fstatat(dir_fd, name.c_str(), &listed, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameFile(opened, listed)) {
      ::unlinkat(dir_fd, name.c_str(), 0);
    }
    ::close(fd);
  }

  bool unnamed_ = true;
};

}  // namespace

ArchiveFileSystem& RealFileSystem() {
  static PosixFileSystem file_system;
  return file_system;
}

ArchiveFileSystem& RealFileSystemWithNamedTemporaryFiles() {
  static PosixFileSystem file_system = [] {
    PosixFileSystem named;
    named.set_unnamed(false);
    return named;
  }();
  return file_system;
}

}  // namespace mailsheaf
