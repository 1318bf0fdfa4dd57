#pragma once
// Lines of a message as the importer counts them: a CR or an LF each ends a line, and a CRLF
// pair ends one. Old Mac mail ends every line with a bare CR; a reader that knew only LF would
// take such a message for one long line and miss its header fields. Every part of the writer
// that looks at lines (the length check, the header reading, the MIME parts, the re-encoding)
// splits them here.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mailsheaf {

// With the importer's default validation a longer line makes it refuse the whole message.
inline constexpr size_t kLongestAcceptedLine = 10240;

struct MailLine {
  std::string_view text;  // without its line end
  std::string_view end;   // "\r\n", "\n", "\r", or empty for a last line without one
  size_t next = 0;        // where the next line starts
};

// The line that starts at `pos` (< text.size()).
MailLine LineAt(std::string_view text, size_t pos);

// Follows the lines of a message given piece by piece.
class LineLengthCheck {
 public:
  void Feed(const unsigned char* data, size_t size);
  // The longest line so far, the one still open included; counted in 64 bits, as a line of a
  // large message can be longer than 4 GiB.
  uint64_t Longest() const { return longest_ > current_ ? longest_ : current_; }

 private:
  uint64_t longest_ = 0;
  uint64_t current_ = 0;  // bytes of the open line
};

uint64_t LongestLine(std::string_view text);

// A header field's first line: a name of printable characters, optional white space (an
// obsolete form), then a colon.
bool IsFieldLine(std::string_view line);

// The separator line mbox files put before each message ("From sender date"); a message saved
// from one often keeps it above its header fields.
bool IsMboxFromLine(std::string_view line);

}  // namespace mailsheaf
