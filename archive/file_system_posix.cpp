// The native file system: UTF-8 names over the POSIX calls.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "archive/file_system.h"
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

class PosixWritableFile final : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) {}
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
    if (::fdatasync(fd_) != 0) {
      error = ErrnoText(errno);
      Close();
      return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
      error = ErrnoText(errno);
      return false;
    }
    return true;
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  static constexpr uint64_t kWritebackStep = 8 << 20;
  int fd_;
  uint64_t written_ = 0;
  uint64_t flushed_ = 0;
};

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
    const int fd = ::open(Native(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      error = ErrnoText(errno);
      return nullptr;
    }
    return std::make_unique<PosixWritableFile>(fd);
  }

  bool Replace(const std::u16string& from, const std::u16string& to,
               std::u16string& error) override {
    if (::rename(Native(from).c_str(), Native(to).c_str()) == 0) return true;
    error = ErrnoText(errno);
    return false;
  }

  bool Remove(const std::u16string& path) override { return ::unlink(Native(path).c_str()) == 0; }
};

}  // namespace

ArchiveFileSystem& RealFileSystem() {
  static PosixFileSystem file_system;
  return file_system;
}

}  // namespace mailsheaf
