// The system table bound to kernel32.

#include <windows.h>

#include <bit>
#include <cstddef>
#include <cstring>

#include "base/ansi_text.h"
#include "base/win32/wide.h"
#include "fs/system_calls.h"

namespace mailsheaf {

// The portable records must be the platform's own, byte for byte.
#define MAILSHEAF_SAME_FIELD(Mirror, Native, field) \
  static_assert(offsetof(Mirror, field) == offsetof(Native, field) && \
                sizeof(Mirror::field) == sizeof(Native::field))

static_assert(sizeof(FindDataW) == sizeof(WIN32_FIND_DATAW));
static_assert(sizeof(FindDataA) == sizeof(WIN32_FIND_DATAA));
static_assert(sizeof(OsVersionInfoW) == sizeof(OSVERSIONINFOW));
static_assert(sizeof(OsVersionInfoA) == sizeof(OSVERSIONINFOA));
static_assert(sizeof(FileTime) == sizeof(FILETIME));
static_assert(sizeof(char16_t) == sizeof(WCHAR));
static_assert(sizeof(FindHandle) == sizeof(HANDLE));
static_assert(kMaxPath == MAX_PATH);
static_assert(kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES);
static_assert(kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kFileAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT);
static_assert(kFileAttributeHidden == FILE_ATTRIBUTE_HIDDEN);
static_assert(kFileAttributeSystem == FILE_ATTRIBUTE_SYSTEM);
static_assert(kPlatformNT == VER_PLATFORM_WIN32_NT);
static_assert(kPlatformWindows95 == VER_PLATFORM_WIN32_WINDOWS);

MAILSHEAF_SAME_FIELD(FindDataW, WIN32_FIND_DATAW, dwFileAttributes);
MAILSHEAF_SAME_FIELD(FindDataW, WIN32_FIND_DATAW, ftCreationTime);
MAILSHEAF_SAME_FIELD(FindDataW, WIN32_FIND_DATAW, ftLastAccessTime);
MAILSHEAF_SAME_FIELD(FindDataW, WIN32_FIND_DATAW, ftLastWriteTime);
MAILSHEAF_SAME_FIELD(FindDataW, WIN32_FIND_DATAW, nFileSizeHigh);
MAILSHEAF_SAME_FIELD(FindDataW, WIN32_FIND_DATAW, nFileSizeLow);
MAILSHEAF_SAME_FIELD(FindDataW, WIN32_FIND_DATAW, cFileName);
MAILSHEAF_SAME_FIELD(FindDataW, WIN32_FIND_DATAW, cAlternateFileName);
MAILSHEAF_SAME_FIELD(FindDataA, WIN32_FIND_DATAA, dwFileAttributes);
MAILSHEAF_SAME_FIELD(FindDataA, WIN32_FIND_DATAA, nFileSizeLow);
MAILSHEAF_SAME_FIELD(FindDataA, WIN32_FIND_DATAA, cFileName);
MAILSHEAF_SAME_FIELD(FindDataA, WIN32_FIND_DATAA, cAlternateFileName);
MAILSHEAF_SAME_FIELD(OsVersionInfoW, OSVERSIONINFOW, dwOSVersionInfoSize);
MAILSHEAF_SAME_FIELD(OsVersionInfoW, OSVERSIONINFOW, dwPlatformId);
MAILSHEAF_SAME_FIELD(OsVersionInfoW, OSVERSIONINFOW, szCSDVersion);
MAILSHEAF_SAME_FIELD(OsVersionInfoA, OSVERSIONINFOA, dwOSVersionInfoSize);
MAILSHEAF_SAME_FIELD(OsVersionInfoA, OSVERSIONINFOA, dwPlatformId);
MAILSHEAF_SAME_FIELD(OsVersionInfoA, OSVERSIONINFOA, szCSDVersion);

#undef MAILSHEAF_SAME_FIELD

namespace {

HANDLE AsHandle(FindHandle handle) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

FindHandle AsFindHandle(HANDLE handle) {
  return static_cast<FindHandle>(reinterpret_cast<intptr_t>(handle));
}

bool ReadIdentity(HANDLE file, FileIdentity& identity) {
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool read = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (read) {
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  return read;
}

// Opening a folder needs backup semantics; without FILE_FLAG_OPEN_REPARSE_POINT the open goes
// through every link to the folder at its end. No access is asked for, only its identity. The
// Windows 95 family refuses FILE_SHARE_DELETE, so the ANSI route (taken only there) leaves it
// out.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

class Kernel32Calls final : public SystemCalls {
 public:
  ModuleHandle LoadLibraryA(const char* name) override { return ::LoadLibraryA(name); }

  ProcAddress GetProcAddress(ModuleHandle module, const char* name) override {
    return reinterpret_cast<ProcAddress>(::GetProcAddress(static_cast<HMODULE>(module), name));
  }

  int32_t FreeLibrary(ModuleHandle module) override {
    return ::FreeLibrary(static_cast<HMODULE>(module));
  }

  int32_t GetVersionExW(OsVersionInfoW& info) override {
    OSVERSIONINFOW native = std::bit_cast<OSVERSIONINFOW>(info);
    const BOOL ok = ::GetVersionExW(&native);
    info = std::bit_cast<OsVersionInfoW>(native);
    return ok;
  }

  int32_t GetVersionExA(OsVersionInfoA& info) override {
    OSVERSIONINFOA native = std::bit_cast<OSVERSIONINFOA>(info);
    const BOOL ok = ::GetVersionExA(&native);
    info = std::bit_cast<OsVersionInfoA>(native);
    return ok;
  }

  uint32_t GetVersion() override { return ::GetVersion(); }

  FindHandle FindFirstFileW(const unsigned char* path, FindDataW& data) override {
    WIN32_FIND_DATAW native{};
    const HANDLE handle = ::FindFirstFileW(WidePointer(path), &native);
    data = std::bit_cast<FindDataW>(native);
    return AsFindHandle(handle);
  }

  FindHandle FindFirstFileA(const char* path, FindDataA& data) override {
    WIN32_FIND_DATAA native{};
    const HANDLE handle = ::FindFirstFileA(path, &native);
    data = std::bit_cast<FindDataA>(native);
    return AsFindHandle(handle);
  }

  int32_t FindNextFileW(FindHandle handle, FindDataW& data) override {
    WIN32_FIND_DATAW native{};
    const BOOL ok = ::FindNextFileW(AsHandle(handle), &native);
    data = std::bit_cast<FindDataW>(native);
    return ok;
  }

  int32_t FindNextFileA(FindHandle handle, FindDataA& data) override {
    WIN32_FIND_DATAA native{};
    const BOOL ok = ::FindNextFileA(AsHandle(handle), &native);
    data = std::bit_cast<FindDataA>(native);
    return ok;
  }

  int32_t FindClose(FindHandle handle) override { return ::FindClose(AsHandle(handle)); }

  uint32_t GetFileAttributesW(const unsigned char* path) override {
    return ::GetFileAttributesW(WidePointer(path));
  }

  uint32_t GetFileAttributesA(const char* path) override { return ::GetFileAttributesA(path); }

  std::string WideToAnsi(std::u16string_view text) override { return ToAnsiCodePage(text); }

  std::u16string AnsiToWide(std::string_view bytes) override { return FromAnsiCodePage(bytes); }

  bool FolderIdentityW(const unsigned char* path, FileIdentity& identity) override {
    return ReadIdentity(::CreateFileW(WidePointer(path), 0, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr),
                        identity);
  }

  bool FolderIdentityA(const char* path, FileIdentity& identity) override {
    return ReadIdentity(::CreateFileA(path, 0, kShareReadWrite, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr),
                        identity);
  }
};

}  // namespace

SystemCalls& PlatformSystemCalls() {
  static Kernel32Calls calls;
  return calls;
}

}  // namespace mailsheaf
