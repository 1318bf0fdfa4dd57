#pragma once
// Lines Zimbra refuses: with its default validation a message holding a line longer than
// 10,240 bytes (mail_lines.h says what a line is) is not imported, and the import still says
// it went well. Real mail has such lines: an attachment's base64 on one line, an HTML
// newsletter on one line. The mend re-encodes only what holds one, so that what a mail reader
// decodes stays exactly the same.
//
// It streams: the mend reads the message from its start three times (a survey of its parts, a
// pass that works out the mended size for the tar header, and the pass that writes), and never
// holds it whole, so that a message of any size is mended in a few MiB. With the first reading
// every message gets (message_reader.h), a file over 8 MiB, which is not held, is read four
// times in all; a smaller one is read once and the passes go over what is held. What is held: one header section
// at a time (up to kLargestHeader), a window of the line being encoded, and a few bytes per
// part of what the survey found.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/mail_lines.h"

namespace mailsheaf {

// The message the mend reads, from its first byte, as often as it needs.
class MendSource {
 public:
  virtual ~MendSource() = default;
  // Hands the whole message to `take` piece by piece. False with the reason when it cannot be
  // read (or changed since it was first read); false with none when `take` said no.
  virtual bool ReadThrough(const std::function<bool(std::string_view)>& take,
                           std::u16string& error) = 0;
};

struct MendPlan {
  enum class Outcome { kUnchanged, kMended, kCannot } outcome = Outcome::kUnchanged;
  uint64_t size = 0;      // of the mended message
  std::u16string reason;  // why Zimbra will still refuse the message, when it cannot be mended
  // The message began with text, not header fields: the mend put a header section in front.
  bool header_added = false;
  // A change falls inside a digitally signed part (multipart/signed): its signature no longer
  // verifies. Or inside the body of a message with a DKIM signature.
  bool signature_broken = false;
  bool dkim_broken = false;
  bool stopped = false;  // `tick` said no: nothing else here counts

  // What the survey found of each entity, in the order they begin: the later passes decide
  // from it before they reach the lines it describes.
  struct Entity {
    char eol = 0;  // its first line end: 'c' CRLF, 'n' LF, 'r' CR; 0 for none
    bool long_body = false;
    bool long_preamble = false;
    bool long_epilogue = false;
    bool has_parts = false;
  };
  std::vector<Entity> entities;
};

// Surveys the message and works out its mended size. False with the reason when the source
// cannot be read; false with none when `tick` (called every MiB or so) said no.
bool PlanMend(MendSource& source, const std::function<bool()>& tick, MendPlan& plan,
              std::u16string& error);

// Writes the mended message to `take`, exactly plan.size bytes. False as ReadThrough is, and
// with no reason when `take` or `tick` said no.
bool WriteMend(MendSource& source, const MendPlan& plan,
               const std::function<bool(std::string_view)>& take,
               const std::function<bool()>& tick, std::u16string& error);

// The same for a message in memory.
struct MendedMessage : MendPlan {
  std::string bytes;  // the mended message, when mended
  const std::string& Bytes() const { return bytes; }
};
MendedMessage MendLongLines(std::string_view message,
                            const std::function<bool()>& tick = nullptr);

}  // namespace mailsheaf
