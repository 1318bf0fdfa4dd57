// The native file system: UTF-8 names over the POSIX calls.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "mail/file_system.h"
#include "mail/file_system_posix.h"
#include "mail/posix/open_files.h"
#include "mail/temporary_name.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

using namespace archive_posix;

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

class PosixFileSystem final : public FileSystem {
 public:
  char16_t Separator() const override { return u'/'; }

  std::u16string AbsolutePath(const std::u16string& path) const override {
    if (path.empty() || path.front() == u'/') return path;
    std::string cwd(PATH_MAX, '\0');
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) return path;
    cwd.resize(std::strlen(cwd.c_str()));
    bool utf8 = true;
    std::u16string full = BytesToName(cwd, utf8);
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
      bool utf8 = true;
      entry.name = BytesToName(raw, utf8);
      entry.not_utf8 = !utf8;
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
    return MakeReadableFile(fd, info);
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
    return MakeWritableFile(dir_fd, fd, name, named);
  }

  bool WriteTarget(const std::u16string& path, std::u16string& target,
                   std::u16string& error) override {
    std::string native = Native(path);
    for (int hops = 0;; ++hops) {
      struct stat info;
      if (::lstat(native.c_str(), &info) != 0) {
        if (errno == ENOENT) break;  // nothing there yet: a new file
        error = u"Cannot examine the destination " + path + u": " + ErrnoText(errno);
        return false;
      }
      if (!S_ISLNK(info.st_mode)) {
        if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) break;
        error = NotAFile(path);
        return false;
      }
      std::string link(PATH_MAX, '\0');
      const ssize_t length = ::readlink(native.c_str(), link.data(), link.size());
      if (length < 0 || hops == 40) {
        error = u"Cannot follow the link " + path + u": " + ErrnoText(length < 0 ? errno : ELOOP);
        return false;
      }
      link.resize(static_cast<size_t>(length));
      native = link.front() == '/' ? link : native.substr(0, native.rfind('/') + 1) + link;
    }
    bool utf8 = true;
    target = BytesToName(native, utf8);
    return true;
  }

  bool RemoveFile(const std::u16string& path, std::u16string& error) override {
    if (::unlink(Native(path).c_str()) == 0) return true;
    error = ErrnoText(errno);
    return false;
  }

  // The destination's folder, locked with flock: every run putting an archive there waits its
  // turn, whichever process it is in (flock holds per open file).
  std::unique_ptr<PlacingLock> LockPlacing(const std::u16string& destination) override {
    class FolderLock final : public PlacingLock {
     public:
      explicit FolderLock(int fd) : fd_(fd) {}
      ~FolderLock() override { ::close(fd_); }

     private:
      int fd_;
    };
    const std::string folder = NameToBytes(destination.substr(0, destination.rfind(u'/') + 1));
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd);
        return nullptr;
      }
    }
    return std::make_unique<FolderLock>(fd);
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
      bool utf8 = true;
      if (IsTemporaryName(BytesToName(raw, utf8))) candidates.push_back(raw);
    }
    ::closedir(dir);
    for (const std::string& name : candidates) RemoveIfStale(dir_fd, name);
    ::close(dir_fd);
  }

  // For the tests: the route without O_TMPFILE, as on a system that lacks it.
  void set_unnamed(bool unnamed) { unnamed_ = unnamed; }

 private:
  // O_NOFOLLOW: a link is never opened, so never what it leads to removed. A running write
  // holds its file's lock until the file is gone or put in place.
  static void RemoveIfStale(int dir_fd, const std::string& name) {
    const int fd = ::openat(dir_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat opened, listed;
    LeftoverFile file;
    if (::fstat(fd, &opened) == 0) {
      file.regular = S_ISREG(opened.st_mode);
      file.held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
      file.modified = opened.st_mtime;
    }
    bool utf8 = true;
    if (IsDeadLeftover(BytesToName(name, utf8), file, std::time(nullptr)) &&
        ::fstatat(dir_fd, name.c_str(), &listed, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameFile(opened, listed)) {
      ::unlinkat(dir_fd, name.c_str(), 0);
    }
    ::close(fd);
  }

  bool unnamed_ = true;
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem file_system;
  return file_system;
}

FileSystem& RealFileSystemWithNamedTemporaryFiles() {
  static PosixFileSystem file_system = [] {
    PosixFileSystem named;
    named.set_unnamed(false);
    return named;
  }();
  return file_system;
}

}  // namespace mailsheaf
