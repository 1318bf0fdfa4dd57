// The journal's file on Windows: opened for appending only (FILE_APPEND_DATA), so that each
// line lands at the end even when two runs write at once, and shared for reading and writing.

#include <windows.h>

#include "base/text.h"
#include "base/win32/system_error.h"
#include "base/win32/wide.h"
#include "upload/journal_file.h"

namespace mailsheaf {
namespace {

class Win32JournalFile final : public JournalFile {
 public:
  Win32JournalFile(HANDLE reader, HANDLE appender) : reader_(reader), appender_(appender) {}
  ~Win32JournalFile() override {
    CloseHandle(reader_);
    CloseHandle(appender_);
  }

  bool ReadLines(const std::function<void(std::string_view)>& line,
                 std::u16string& error) override {
    return ReadLinesInChunks(
        [this](char* chunk, size_t size, size_t& got, std::u16string& why) {
          DWORD read = 0;
          if (!ReadFile(reader_, chunk, static_cast<DWORD>(size), &read, nullptr)) {
            why = SystemErrorText(GetLastError());
            return false;
          }
          got = read;
          return true;
        },
        line, error);
  }

  bool Append(std::string_view bytes, std::u16string& error) override {
    while (!bytes.empty()) {
      DWORD put = 0;
      if (!WriteFile(appender_, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) ||
          put == 0) {
        error = SystemErrorText(GetLastError());
        return false;
      }
      bytes.remove_prefix(put);
    }
    return true;
  }

 private:
  HANDLE reader_;
  HANDLE appender_;
};

bool MakeFolders(const std::u16string& folder, std::u16string& error) {
  for (size_t at = folder.find(u'\\', 3); at != std::u16string::npos;
       at = folder.find(u'\\', at + 1)) {
    const std::u16string part = folder.substr(0, at);
    if (!CreateDirectoryW(WidePointer(part), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      error = u"cannot make " + part + u": " + SystemErrorText(GetLastError());
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
  if (!MakeFolders(folder, error)) return nullptr;
  const std::u16string path = folder + name;
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  const HANDLE appender = CreateFileW(WidePointer(path), FILE_APPEND_DATA | SYNCHRONIZE, kShare,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (appender == INVALID_HANDLE_VALUE) {
    error = u"cannot open " + path + u": " + SystemErrorText(GetLastError());
    return nullptr;
  }
  const bool made = GetLastError() != ERROR_ALREADY_EXISTS;
  const HANDLE reader = CreateFileW(WidePointer(path), GENERIC_READ, kShare, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (reader == INVALID_HANDLE_VALUE) {
    error = u"cannot read " + path + u": " + SystemErrorText(GetLastError());
    CloseHandle(appender);
    return nullptr;
  }
  auto file = std::make_unique<Win32JournalFile>(reader, appender);
  if (made && !file->Append(first_line + "\n", error)) return nullptr;
  return file;
}

}  // namespace mailsheaf
