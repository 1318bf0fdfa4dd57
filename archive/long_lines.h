#pragma once
// Lines Zimbra refuses: with its default validation a message holding a line longer than
// 10,240 bytes (mail_lines.h says what a line is) is not imported, and the import still says
// it went well. Real mail has such lines: an attachment's base64 on one line, an HTML
// newsletter on one line. MendLongLines re-encodes only what holds one, so that what a mail
// reader decodes stays exactly the same.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/mail_lines.h"

namespace mailsheaf {

struct MendedMessage {
  enum class Outcome { kUnchanged, kMended, kCannot } outcome = Outcome::kUnchanged;
  // The message to store, when mended, in pieces: runs of the original (views into it, which
  // must outlive this) and the new text between them. Never copied whole: a mended message of
  // a hundred megabytes would otherwise be in memory three times over.
  struct Piece {
    std::string_view original;
    std::string replacement;  // used when `original` is empty
    std::string_view Bytes() const { return original.empty() ? replacement : original; }
  };
  std::vector<Piece> pieces;
  uint64_t Size() const;
  std::string Bytes() const;  // all pieces in one string
  std::u16string reason;  // why Zimbra will still refuse the message, when it cannot be mended
  // The message began with text, not header fields: the mend put a header section in front.
  bool header_added = false;
  // A change fell inside a digitally signed part (multipart/signed): its signature no longer
  // verifies. Or inside the body of a message with a DKIM signature.
  bool signature_broken = false;
  bool dkim_broken = false;
  bool stopped = false;  // `tick` said no: nothing else here counts
};

// Re-encodes the leaf parts that hold a line over the limit (base64 re-wrapped, quoted-printable
// given soft line breaks, anything else encoded as quoted-printable), wraps such lines in a
// multipart's preamble and epilogue (which no reader shows), and folds header lines over it at
// white space, or splits a long word of an unstructured field into encoded words. Every other
// byte stays as it is, line ends included.
// `tick` is called now and then while a large message is re-encoded, so that the writer can
// raise its events; false stops the work.
MendedMessage MendLongLines(std::string_view message,
                            const std::function<bool()>& tick = nullptr);

}  // namespace mailsheaf
