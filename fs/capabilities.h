#pragma once
// The system the file-system services are handed: its calls, and what the running Windows
// offers, learnt from those calls on the first one that needs it. On the NT platform the wide
// calls are taken, with long-path buffers; on the Windows 95 family, and whenever detection did
// not run to its end, the ANSI calls with code-page paths.

#include <cstdint>
#include <string>

#include "fs/system_calls.h"

namespace mailsheaf {

struct OsVersion {
  int32_t PlatformId = 0;  // 0 Win32s, 1 Windows 95 family, 2 NT family
  bool IsNT = false;
};

// All false until detection runs. Once it has run only HasGetVersionExW and HasGetVersionExA
// can change (cleared when their call fails).
struct CapabilityFlags {
  bool CapabilitiesDetected = false;
  bool HasGetVersionExA = false;
  bool HasGetVersionExW = false;
  bool UseGetFileAttributesW = false;
  bool UseFindFirstFileW = false;
  bool UseFindNextFileW = false;
  OsVersion HostOSVersion;
};

// One thread at a time: detection fills the flags on first use.
class System {
 public:
  explicit System(SystemCalls& calls) : calls_(calls) {}
  System(const System&) = delete;
  System& operator=(const System&) = delete;

  SystemCalls& Calls() { return calls_; }

  // The flags as they stand; does not start detection.
  const CapabilityFlags& Capabilities() const { return flags_; }

  // Fills the flags and HostOSVersion. CapabilitiesDetected is set first, so a failure part-way
  // never starts detection again.
  void DetectCapabilities();

  // Runs detection now unless it has run already.
  void EnsureCapabilitiesDetected();

  // The running system's platform, from GetVersionExW, else GetVersionExA, else GetVersion; a
  // GetVersionEx that fails is given up for good.
  OsVersion QueryOSVersion();

  // The attribute bits of a file or folder (0x10 marks a folder), or -1 when they cannot be
  // read. Detects the capabilities first when that has not happened yet.
  int32_t QueryFileAttributes(const std::u16string& path);

  // Whether the file calls take their wide forms (detecting first if needed).
  bool WideCallsInUse();

  // A path for an ANSI call, in the active ANSI code page.
  std::string AnsiPath(const std::u16string& path);

 private:
  SystemCalls& calls_;
  CapabilityFlags flags_;
};

// The real system of this build, detected once: the window's scan and the shell helpers share
// it, so that a folder the browser returns is one the scan can list.
System& PlatformSystem();

}  // namespace mailsheaf
