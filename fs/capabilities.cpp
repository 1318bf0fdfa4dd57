#include "fs/capabilities.h"

#include "base/path_forms.h"

namespace mailsheaf {
namespace {

constexpr uint32_t kOsVersionInfoWSize = 276;
constexpr uint32_t kOsVersionInfoASize = 148;

}  // namespace

void System::DetectCapabilities() {
  flags_.CapabilitiesDetected = true;

  ModuleHandle kernel32 = calls_.LoadLibraryA("kernel32");
  if (kernel32 == nullptr) {
    return;
  }
  if (calls_.GetProcAddress(kernel32, "GetVersionExA") != nullptr) {
    flags_.HasGetVersionExA = true;
  }
  if (calls_.GetProcAddress(kernel32, "GetVersionExW") != nullptr) {
    flags_.HasGetVersionExW = true;
  }
  flags_.HostOSVersion = QueryOSVersion();
  calls_.FreeLibrary(kernel32);

  // Anything but NT keeps the ANSI calls: the Windows 95 family (or a detection that stopped
  // early, which never gets here).
  if (flags_.HostOSVersion.IsNT) {
    flags_.UseGetFileAttributesW = true;
    flags_.UseFindFirstFileW = true;
    flags_.UseFindNextFileW = true;
  }
}

OsVersion System::QueryOSVersion() {
  OsVersion version;
  // Each failing source is cleared for good, so this loop ends at GetVersion at the latest.
  for (;;) {
    if (flags_.HasGetVersionExW) {
      OsVersionInfoW info{};
      info.dwOSVersionInfoSize = kOsVersionInfoWSize;
      if (calls_.GetVersionExW(info) == 0) {
        flags_.HasGetVersionExW = false;
        continue;
      }
      version.PlatformId = static_cast<int32_t>(info.dwPlatformId);
    } else if (flags_.HasGetVersionExA) {
      // Windows 95 family only: on NT GetVersionExW is always there and answers.
      OsVersionInfoA info{};
      info.dwOSVersionInfoSize = kOsVersionInfoASize;
      if (calls_.GetVersionExA(info) == 0) {
        flags_.HasGetVersionExA = false;
        continue;
      }
      version.PlatformId = static_cast<int32_t>(info.dwPlatformId);
    } else {
      const bool win95Family = (calls_.GetVersion() & 0x80000000u) != 0;
      version.PlatformId = win95Family ? kPlatformWindows95 : kPlatformNT;
    }
    break;
  }
  version.IsNT = version.PlatformId == kPlatformNT;
  return version;
}

void System::EnsureCapabilitiesDetected() {
  if (!flags_.CapabilitiesDetected) {
    DetectCapabilities();
  }
}

std::string System::AnsiPath(const std::u16string& path) { return calls_.WideToAnsi(path); }

int32_t System::QueryFileAttributes(const std::u16string& path) {
  EnsureCapabilitiesDetected();
  uint32_t bits;
  if (flags_.UseGetFileAttributesW) {
    const auto buffer = LongPathBuffer(path);
    bits = calls_.GetFileAttributesW(buffer.data());
  } else {
    // Windows 95 family only.
    bits = calls_.GetFileAttributesA(AnsiPath(path).c_str());
  }
  return static_cast<int32_t>(bits);
}

bool System::WideCallsInUse() {
  EnsureCapabilitiesDetected();
  return flags_.UseFindFirstFileW;
}

System& PlatformSystem() {
  static System system(PlatformSystemCalls());
  return system;
}

}  // namespace mailsheaf
