#pragma once
// Lines Zimbra refuses: with its default validation a message holding a line (the bytes between
// two line ends) longer than 10,240 bytes is not imported, and the import still says it went
// well. Real mail has such lines: an attachment's base64 on one line, an HTML newsletter on one
// line. MendLongLines re-encodes only the parts that hold one, so that what a mail reader
// decodes stays exactly the same.

#include <cstddef>
#include <string>
#include <string_view>

namespace mailsheaf {

inline constexpr size_t kLongestAcceptedLine = 10240;

// Follows the lines of a message given piece by piece; a CR before an LF belongs to the end.
class LineLengthCheck {
 public:
  void Feed(const unsigned char* data, size_t size);
  // The longest line so far, the one still open included.
  size_t Longest() const { return longest_ > current_ ? longest_ : current_; }

 private:
  size_t longest_ = 0;
  size_t current_ = 0;   // bytes of the open line, a trailing CR included
  bool cr_last_ = false;
};

size_t LongestLine(std::string_view text);

struct MendedMessage {
  enum class Outcome { kUnchanged, kMended, kCannot } outcome = Outcome::kUnchanged;
  std::string bytes;      // the message to store, when mended
  std::u16string reason;  // why Zimbra will still refuse the message, when it cannot be mended
};

// Re-encodes the leaf parts that hold a line over the limit (base64 re-wrapped, quoted-printable
// given soft line breaks, anything else encoded as quoted-printable) and folds header lines over
// it at white space. Every other byte stays as it is, line ends included.
MendedMessage MendLongLines(std::string_view message);

}  // namespace mailsheaf
