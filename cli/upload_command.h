#pragma once
// mailsheaf-pack --imap: the tree put straight into the account over IMAP.

#include <atomic>
#include <string>
#include <vector>

#include "cli/console.h"

namespace mailsheaf {

class FileSystem;

// The exit code when the run went through but something was refused or not added.
inline constexpr int kExitIncomplete = 3;

// True when the arguments ask for the IMAP route.
bool AsksForUpload(const std::vector<std::u16string>& arguments);

// `arguments` without the program name. `interrupted` is set from outside (Ctrl+C): no new
// message is sent, the answers to those sent are read, and the report says what is there.
int RunUpload(const std::vector<std::u16string>& arguments, Console& console,
              FileSystem& file_system, const std::atomic<bool>& interrupted);

std::u16string UploadUsage();

}  // namespace mailsheaf
