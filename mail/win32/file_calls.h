#pragma once
// The Win32 pieces the archive's file system is built from: paths for the wide calls, the
// system's words for an error, what a handle says of its file, the delete-on-close mark, and
// the open files themselves.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mail/file_system.h"
#include "base/path_forms.h"
#include "base/win32/system_error.h"
#include "base/win32/wide.h"

namespace mailsheaf::archive_win32 {

// The buffer LongPathBuffer builds is UTF-16LE with its NUL, which is what a wide call reads.
class WidePath {
 public:
  explicit WidePath(const std::u16string& path) : bytes_(LongPathBuffer(path)) {}
  const wchar_t* get() const { return WidePointer(bytes_); }

 private:
  std::vector<unsigned char> bytes_;
};

std::u16string LastErrorText();
int64_t UnixSeconds(const FILETIME& time);

// The path an open file finally has, links followed, in plain form; empty where the system
// cannot say (before Vista).
std::u16string FinalPath(HANDLE handle);

// What a message's handle says of it. The change time moves with any rewrite, even one of the
// same length within the same second.
struct FileStamp {
  uint64_t size = 0;
  int64_t last_write = 0;  // 100 ns ticks since 1601
  int64_t change = 0;
  bool folder = false;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

bool ReadStamp(HANDLE handle, FileStamp& stamp);
int64_t UnixSecondsFromTicks(int64_t ticks);

// Marks an open file (opened with DELETE access) to go when its last handle closes, or clears
// the mark. False where the system cannot.
bool MarkForDeletion(HANDLE handle, bool marked);

// The open files, owning their handles.
std::unique_ptr<ReadableFile> MakeReadableFile(HANDLE handle, const FileStamp& stamp);
// A temporary file at `path`, marked for deletion on close when `marked`.
std::unique_ptr<WritableFile> MakeWritableFile(HANDLE handle, std::u16string path, bool marked);

}  // namespace mailsheaf::archive_win32
