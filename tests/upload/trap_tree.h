#pragma once
// The trap tree's messages and what the account must hold of them, shared by the case run in
// process and the case that kills the packer.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/upload/tree_upload.h"

namespace mailsheaf::upload_test {

inline constexpr int64_t kMarch3 = 1583229600;   // Tue, 3 Mar 2020 10:00:00 +0000
inline constexpr int64_t kMarch4 = 1583323200;   // Wed, 4 Mar 2020 12:00:00 +0000

struct TrapFile {
  std::string path;
  std::string bytes;      // CRLF throughout: the server's form
  std::string mailbox;    // in the default layout
  bool seen = true;
  int64_t date = 0;       // 0: the file's change time, the same on every run
};

std::string TrapMessage(const std::string& subject, const std::string& message_id, int64_t date,
                        const std::string& body);
std::vector<TrapFile> TrapFiles(Layout layout);
// The undated messages' files get a time before 1970, which cannot be used.
void AgeTrapFiles(const Tree& tree);

// The packer put to the layout's server over TLS, with the tree's own journal.
Cli RunTrapCli(Layout layout, const std::string& user, const Tree& tree,
               const std::string& interrupt_when = "");

// Every file's message in its mailbox exactly once: its bytes (as the layout's storage shows
// them), its read state and its date.
void ExpectHeldOnce(Layout layout, const std::string& user, const std::vector<TrapFile>& files);

}  // namespace mailsheaf::upload_test
