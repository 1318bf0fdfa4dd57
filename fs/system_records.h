#pragma once
// Portable copies of the records and constants that the kernel32 calls of the file-system
// services exchange. They keep the platform's exact layouts (checked against the Windows headers
// in the Windows binding), so the same code fills and reads them on every build.

#include <cstdint>

namespace mailsheaf {

// A search handle as the listing keeps it: the handle's bits, signed and pointer-wide.
using FindHandle = intptr_t;
inline constexpr FindHandle kInvalidSearchHandle = -1;

// What GetFileAttributes returns when it fails (every bit set).
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
inline constexpr uint32_t kFileAttributeHidden = 0x02;
inline constexpr uint32_t kFileAttributeSystem = 0x04;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeArchive = 0x20;
inline constexpr uint32_t kFileAttributeReparsePoint = 0x400;

inline constexpr int32_t kPlatformWindows95 = 1;
inline constexpr int32_t kPlatformNT = 2;

inline constexpr int kMaxPath = 260;

struct FileTime {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

struct FindDataW {
  uint32_t dwFileAttributes;
  FileTime ftCreationTime;
  FileTime ftLastAccessTime;
  FileTime ftLastWriteTime;
  uint32_t nFileSizeHigh;
  uint32_t nFileSizeLow;
  uint32_t dwReserved0;
  uint32_t dwReserved1;
  char16_t cFileName[kMaxPath];
  char16_t cAlternateFileName[14];
};
static_assert(sizeof(FindDataW) == 592);

struct FindDataA {
  uint32_t dwFileAttributes;
  FileTime ftCreationTime;
  FileTime ftLastAccessTime;
  FileTime ftLastWriteTime;
  uint32_t nFileSizeHigh;
  uint32_t nFileSizeLow;
  uint32_t dwReserved0;
  uint32_t dwReserved1;
  char cFileName[kMaxPath];
  char cAlternateFileName[14];
};
static_assert(sizeof(FindDataA) == 320);

struct OsVersionInfoW {
  uint32_t dwOSVersionInfoSize;
  uint32_t dwMajorVersion;
  uint32_t dwMinorVersion;
  uint32_t dwBuildNumber;
  uint32_t dwPlatformId;
  char16_t szCSDVersion[128];
};
static_assert(sizeof(OsVersionInfoW) == 276);

struct OsVersionInfoA {
  uint32_t dwOSVersionInfoSize;
  uint32_t dwMajorVersion;
  uint32_t dwMinorVersion;
  uint32_t dwBuildNumber;
  uint32_t dwPlatformId;
  char szCSDVersion[128];
};
static_assert(sizeof(OsVersionInfoA) == 148);

}  // namespace mailsheaf
