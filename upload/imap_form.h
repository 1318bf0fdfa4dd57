#pragma once
// A message as an IMAP server shows it once stored: every line end CRLF (a bare LF and a bare
// CR each become CRLF) and no NUL (it becomes 0x80), which is what Dovecot does on APPEND. The
// upload sends this form, so the size it sends is the RFC822.SIZE the server will show, and a
// message read back compares byte for byte.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mailsheaf {

class ImapFormWriter {
 public:
  explicit ImapFormWriter(std::string& out) : out_(out) {}
  void Put(const unsigned char* data, size_t size);
  // Ends a message that stops on a bare CR.
  void Finish();
  // A NUL was met: the message the server holds differs from the file there, and says so.
  bool NulReplaced() const { return nul_replaced_; }

 private:
  std::string& out_;
  bool after_cr_ = false;
  bool nul_replaced_ = false;
};

std::string ImapForm(std::string_view message);

// The size of a message in IMAP's form less its top-level header fields that mbox storage
// keeps for itself and does not show (Dovecot drops Status:, X-Status:, X-Keywords:, X-UID:,
// X-IMAP:, X-IMAPbase: and Content-Length: on APPEND): the size such a server reports for it.
uint64_t SizeWithoutMboxFields(std::string_view message);

}  // namespace mailsheaf
