#pragma once
// The one seam between the file-system services and the system: every kernel32 call they make
// goes through this table, handed to them in a System (capabilities.h). The Windows build binds
// it to kernel32; the native build binds it to POSIX calls that behave like the NT platform;
// tests hand in a scripted fake.

#include <string>
#include <string_view>

#include "base/file_identity.h"
#include "fs/system_records.h"

namespace mailsheaf {

using ModuleHandle = void*;
using ProcAddress = void (*)();

// Wide-path arguments are long-path buffers (see LongPathBuffer): UTF-16LE bytes ending in one
// NUL unit, handed over by the address of their first byte. ANSI-path arguments are
// NUL-terminated text in the active ANSI code page. Results follow kernel32: 0 for failure,
// kInvalidSearchHandle and kInvalidFileAttributes where the system uses -1.
class SystemCalls {
 public:
  virtual ~SystemCalls() = default;

  virtual ModuleHandle LoadLibraryA(const char* name) = 0;
  virtual ProcAddress GetProcAddress(ModuleHandle module, const char* name) = 0;
  virtual int32_t FreeLibrary(ModuleHandle module) = 0;

  virtual int32_t GetVersionExW(OsVersionInfoW& info) = 0;
  virtual int32_t GetVersionExA(OsVersionInfoA& info) = 0;
  virtual uint32_t GetVersion() = 0;

  virtual FindHandle FindFirstFileW(const unsigned char* path, FindDataW& data) = 0;
  virtual FindHandle FindFirstFileA(const char* path, FindDataA& data) = 0;
  virtual int32_t FindNextFileW(FindHandle handle, FindDataW& data) = 0;
  virtual int32_t FindNextFileA(FindHandle handle, FindDataA& data) = 0;
  virtual int32_t FindClose(FindHandle handle) = 0;

  virtual uint32_t GetFileAttributesW(const unsigned char* path) = 0;
  virtual uint32_t GetFileAttributesA(const char* path) = 0;

  // The active ANSI code page, both ways, with the code page's own substitutes for what it
  // cannot express (WideCharToMultiByte / MultiByteToWideChar on CP_ACP).
  virtual std::string WideToAnsi(std::u16string_view text) = 0;
  virtual std::u16string AnsiToWide(std::string_view bytes) = 0;

  // Opens the folder a path leads to, links followed, and reads its identity (on Windows:
  // CreateFile with backup semantics, GetFileInformationByHandle, CloseHandle). False when the
  // folder cannot be opened or read.
  virtual bool FolderIdentityW(const unsigned char* path, FileIdentity& identity) = 0;
  virtual bool FolderIdentityA(const char* path, FileIdentity& identity) = 0;
};

// The binding to the real system of this build (kernel32, or POSIX natively).
SystemCalls& PlatformSystemCalls();

}  // namespace mailsheaf
