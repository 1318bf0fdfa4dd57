// The journal's file on Linux: opened for appending, so that each line lands at the end even
// when two runs write at once; made readable by its owner only.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/text.h"
#include "upload/journal_file.h"

namespace mailsheaf {
namespace {

std::u16string ErrnoText() { return Utf8ToUtf16(std::strerror(errno)); }

class PosixJournalFile final : public JournalFile {
 public:
  explicit PosixJournalFile(int fd) : fd_(fd) {}
  ~PosixJournalFile() override { ::close(fd_); }

  bool ReadLines(const std::function<void(std::string_view)>& line,
                 std::u16string& error) override {
    if (::lseek(fd_, 0, SEEK_SET) < 0) {
      error = ErrnoText();
      return false;
    }
    return ReadLinesInChunks(
        [this](char* chunk, size_t size, size_t& got, std::u16string& why) {
          ssize_t count = 0;
          do count = ::read(fd_, chunk, size);
          while (count < 0 && errno == EINTR);
          if (count < 0) {
            why = ErrnoText();
            return false;
          }
          got = static_cast<size_t>(count);
          return true;
        },
        line, error);
  }

  bool Append(std::string_view bytes, std::u16string& error) override {
    while (!bytes.empty()) {
      const ssize_t put = ::write(fd_, bytes.data(), bytes.size());
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        error = ErrnoText();
        return false;
      }
      bytes.remove_prefix(static_cast<size_t>(put));
    }
    return true;
  }

 private:
  int fd_;
};

bool MakeFolders(const std::string& folder, std::u16string& error) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = u"cannot make " + Utf8ToUtf16(part) + u": " + ErrnoText();
      return false;
    }
  }
  return true;
}

}  // namespace

std::unique_ptr<JournalFile> OpenJournalFile(const std::u16string& folder,
                                             const std::u16string& name,
                                             const std::string& first_line,
                                             std::u16string& error) {
  const std::string where = NameToBytes(folder);
  if (!MakeFolders(where, error)) return nullptr;
  const std::string path = where + NameToBytes(name);
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = u"cannot open " + Utf8ToUtf16(path) + u": " + ErrnoText();
    return nullptr;
  }
  auto file = std::make_unique<PosixJournalFile>(fd);
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_size == 0 && !file->Append(first_line + "\n", error)) {
    return nullptr;
  }
  return file;
}

}  // namespace mailsheaf
