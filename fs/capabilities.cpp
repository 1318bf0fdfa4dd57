#include "fs/capabilities.h"

#include "base/path_forms.h"
#include "fs/system_calls.h"

namespace mailsheaf {
namespace {

CapabilityFlags g_flags;

constexpr uint32_t kOsVersionInfoWSize = 276;
constexpr uint32_t kOsVersionInfoASize = 148;

}  // namespace

const CapabilityFlags& Capabilities() { return g_flags; }

void ResetCapabilities() { g_flags = CapabilityFlags{}; }

void DetectCapabilities() {
  g_flags.CapabilitiesDetected = true;

  SystemCalls& sys = ActiveSystemCalls();
  ModuleHandle kernel32 = sys.LoadLibraryA("kernel32");
  if (kernel32 == nullptr) {
    return;
  }
  if (sys.GetProcAddress(kernel32, "GetVersionExA") != nullptr) {
    g_flags.HasGetVersionExA = true;
  }
  if (sys.GetProcAddress(kernel32, "GetVersionExW") != nullptr) {
    g_flags.HasGetVersionExW = true;
  }
  g_flags.HostOSVersion = QueryOSVersion();
  sys.FreeLibrary(kernel32);

  // Anything but NT keeps the ANSI calls: the Windows 95 family (or a detection that stopped
  // early, which never gets here).
  if (g_flags.HostOSVersion.IsNT) {
    g_flags.UseGetFileAttributesW = true;
    g_flags.UseFindFirstFileW = true;
    g_flags.UseFindNextFileW = true;
  }
}

OsVersion QueryOSVersion() {
  SystemCalls& sys = ActiveSystemCalls();
  OsVersion version;
  // Each failing source is cleared for good, so this loop ends at GetVersion at the latest.
  for (;;) {
    if (g_flags.HasGetVersionExW) {
      OsVersionInfoW info{};
      info.dwOSVersionInfoSize = kOsVersionInfoWSize;
      if (sys.GetVersionExW(info) == 0) {
        g_flags.HasGetVersionExW = false;
        continue;
      }
      version.PlatformId = static_cast<int32_t>(info.dwPlatformId);
    } else if (g_flags.HasGetVersionExA) {
      // Windows 95 family only: on NT GetVersionExW is always there and answers.
      OsVersionInfoA info{};
      info.dwOSVersionInfoSize = kOsVersionInfoASize;
      if (sys.GetVersionExA(info) == 0) {
        g_flags.HasGetVersionExA = false;
        continue;
      }
      version.PlatformId = static_cast<int32_t>(info.dwPlatformId);
    } else {
      const bool win95Family = (sys.GetVersion() & 0x80000000u) != 0;
      version.PlatformId = win95Family ? kPlatformWindows95 : kPlatformNT;
    }
    break;
  }
  version.IsNT = version.PlatformId == kPlatformNT;
  return version;
}

void EnsureCapabilitiesDetected() {
  if (!g_flags.CapabilitiesDetected) {
    DetectCapabilities();
  }
}

std::string AnsiPath(const std::u16string& path) { return ActiveSystemCalls().WideToAnsi(path); }

int32_t QueryFileAttributes(const std::u16string& path) {
  EnsureCapabilitiesDetected();
  SystemCalls& sys = ActiveSystemCalls();
  uint32_t bits;
  if (g_flags.UseGetFileAttributesW) {
    const auto buffer = LongPathBuffer(path);
    bits = sys.GetFileAttributesW(buffer.data());
  } else {
    // Windows 95 family only.
    bits = sys.GetFileAttributesA(AnsiPath(path).c_str());
  }
  return static_cast<int32_t>(bits);
}

bool WideCallsInUse() {
  EnsureCapabilitiesDetected();
  return g_flags.UseFindFirstFileW;
}

}  // namespace mailsheaf
