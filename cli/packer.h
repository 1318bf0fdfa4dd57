#pragma once
// mailsheaf-pack: packs a folder tree of .eml messages into a .tgz for a Zimbra account's
// Import, with the same writer as the window.

#include <atomic>
#include <string>
#include <vector>

#include "cli/console.h"

namespace mailsheaf {

class FileSystem;

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// `arguments` without the program name. `interrupted` is set from outside (Ctrl+C); the write
// then stops at its next event and leaves no archive behind.
int RunPacker(const std::vector<std::u16string>& arguments, Console& console,
              FileSystem& file_system, unsigned threads,
              const std::atomic<bool>& interrupted);

}  // namespace mailsheaf
