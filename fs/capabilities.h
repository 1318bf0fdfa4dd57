#pragma once
// What the running Windows offers, learnt once per process on the first file-system call: on
// the NT platform the wide calls are taken, with long-path buffers; on the Windows 95 family,
// and whenever detection did not run to its end, the ANSI calls with code-page paths.

#include <cstdint>
#include <string>

namespace mailsheaf {

struct OsVersion {
  int32_t PlatformId = 0;  // 0 Win32s, 1 Windows 95 family, 2 NT family
  bool IsNT = false;
};

// The process-wide flags, all false until detection runs. Once it has run only
// HasGetVersionExW and HasGetVersionExA can change (cleared when their call fails).
struct CapabilityFlags {
  bool CapabilitiesDetected = false;
  bool HasGetVersionExA = false;
  bool HasGetVersionExW = false;
  bool UseGetFileAttributesW = false;
  bool UseFindFirstFileW = false;
  bool UseFindNextFileW = false;
  OsVersion HostOSVersion;
};

// Reads the flags as they stand; does not start detection.
const CapabilityFlags& Capabilities();

// Fills the flags and HostOSVersion. CapabilitiesDetected is set first, so a failure part-way
// never starts detection again.
void DetectCapabilities();

// The running system's platform, from GetVersionExW, else GetVersionExA, else GetVersion; a
// GetVersionEx that fails is given up for the rest of the process.
OsVersion QueryOSVersion();

// The attribute bits of a file or folder (0x10 marks a folder), or -1 when they cannot be read.
// Detects the capabilities first when that has not happened yet.
int32_t QueryFileAttributes(const std::u16string& path);

// Whether the file calls take their wide forms (detecting first if needed). The shell helpers
// choose their own wide or ANSI calls by it.
bool WideCallsInUse();

// Runs detection now unless it has run already.
void EnsureCapabilitiesDetected();

// A path for an ANSI call: converted to the active ANSI code page through the system table.
std::string AnsiPath(const std::u16string& path);

// Back to the state of a fresh process, so that the next call detects again. For tests, which
// script a different system each time.
void ResetCapabilities();

}  // namespace mailsheaf
