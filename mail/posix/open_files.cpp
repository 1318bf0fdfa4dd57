#include "mail/posix/open_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/text.h"

namespace mailsheaf::archive_posix {
namespace {

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

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
  int64_t ChangeTime() const override { return static_cast<int64_t>(info_.st_ctime); }

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

}  // namespace

std::u16string ErrnoText(int code) { return Utf8ToUtf16(std::strerror(code)); }

std::string Native(const std::u16string& path) { return NameToBytes(path); }

bool NothingThere(int code) { return code == ENOENT || code == ENOTDIR || code == ELOOP; }

std::unique_ptr<ReadableFile> MakeReadableFile(int fd, const struct stat& info) {
  return std::make_unique<PosixReadableFile>(fd, info);
}

std::unique_ptr<WritableFile> MakeWritableFile(int dir_fd, int fd, std::string name, bool named) {
  return std::make_unique<PosixWritableFile>(dir_fd, fd, std::move(name), named);
}

}  // namespace mailsheaf::archive_posix
