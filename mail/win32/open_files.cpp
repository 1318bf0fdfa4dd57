#include "mail/win32/file_calls.h"

#include "base/path_forms.h"

namespace mailsheaf::archive_win32 {
namespace {

class Win32ReadableFile final : public ReadableFile {
 public:
  Win32ReadableFile(HANDLE handle, const FileStamp& stamp) : handle_(handle), stamp_(stamp) {}
  ~Win32ReadableFile() override { CloseHandle(handle_); }

  int64_t Read(unsigned char* buffer, size_t capacity, std::u16string& error) override {
    const DWORD want = capacity > (1u << 30) ? (1u << 30) : static_cast<DWORD>(capacity);
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, want, &got, nullptr)) {
      error = LastErrorText();
      return -1;
    }
    return got;
  }

  bool Rewind(std::u16string& error) override {
    LARGE_INTEGER zero{};
    if (SetFilePointerEx(handle_, zero, nullptr, FILE_BEGIN)) return true;
    error = LastErrorText();
    return false;
  }

  uint64_t Size() const override { return stamp_.size; }
  int64_t ModifiedTime() const override { return UnixSecondsFromTicks(stamp_.last_write); }
  int64_t ChangeTime() const override { return UnixSecondsFromTicks(stamp_.change); }

  bool Unchanged(bool& unchanged, std::u16string& error) override {
    FileStamp now;
    if (!ReadStamp(handle_, now)) {
      error = LastErrorText();
      return false;
    }
    unchanged = now == stamp_;
    return true;
  }

 private:
  HANDLE handle_;
  FileStamp stamp_;
};

// A temporary file, open without sharing so that no other run can delete it, and marked to go
// with its handle, so that a process ended by any means leaves nothing. Commit clears the mark
// and closes it: a file open for writing cannot be moved.
class Win32WritableFile final : public WritableFile {
 public:
  Win32WritableFile(HANDLE handle, std::u16string path, bool marked)
      : handle_(handle), path_(std::move(path)), marked_(marked) {}
  ~Win32WritableFile() override { Close(); }

  bool Write(const unsigned char* data, size_t size, std::u16string& error) override {
    while (size > 0) {
      const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
      DWORD put = 0;
      if (!WriteFile(handle_, data, chunk, &put, nullptr)) {
        error = LastErrorText();
        return false;
      }
      data += put;
      size -= put;
    }
    return true;
  }

  bool Commit(std::u16string& error) override {
    if (handle_ == INVALID_HANDLE_VALUE) {
      error = u"The file is closed";
      return false;
    }
    if (!FlushFileBuffers(handle_) || (marked_ && !MarkForDeletion(handle_, false))) {
      error = LastErrorText();
      Close();
      return false;
    }
    marked_ = false;
    committed_ = true;
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(handle)) {
      error = LastErrorText();
      Close();
      return false;
    }
    return true;
  }

  bool MoveOver(const std::u16string& name, std::u16string& error) override {
    if (!committed_) {
      error = u"The file is not complete";
      Close();
      return false;
    }
    if (!MoveFileExW(WidePath(path_).get(), WidePath(FolderOfPath(path_) + name).get(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      error = LastErrorText();
      Close();
      return false;
    }
    committed_ = false;
    return true;
  }

  void Close() override {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
      if (!marked_) DeleteFileW(WidePath(path_).get());
    } else if (committed_) {
      DeleteFileW(WidePath(path_).get());
    }
    committed_ = false;
  }

 private:
  HANDLE handle_;
  std::u16string path_;
  bool marked_;
  bool committed_ = false;
};

}  // namespace

std::unique_ptr<ReadableFile> MakeReadableFile(HANDLE handle, const FileStamp& stamp) {
  return std::make_unique<Win32ReadableFile>(handle, stamp);
}

std::unique_ptr<WritableFile> MakeWritableFile(HANDLE handle, std::u16string path, bool marked) {
  return std::make_unique<Win32WritableFile>(handle, std::move(path), marked);
}

}  // namespace mailsheaf::archive_win32
