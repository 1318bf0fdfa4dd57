#pragma once
// The re-encodings a mend applies to a body, fed as the message streams by: the text of each
// line in pieces, then its line end. However long a line is, an encoder holds only a window of
// it: what it needs to look ahead (a soft break's room, a delimiter that might start there).

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/mend_output.h"

namespace mailsheaf {

class BodyEncoder {
 public:
  virtual ~BodyEncoder() = default;
  // More text of the current line.
  virtual void Text(std::string_view piece) = 0;
  // The current line ends with `eol` ("" for a last line without one).
  virtual void EndLine(std::string_view eol) = 0;
  // After the body's last line.
  virtual void Finish() {}
};

// "--" and the boundary of each multipart that encloses the body: a new line must never start
// like one of them, or a reader would end the part there.
using Delimiters = std::vector<std::string>;

// Base64 with its white space and line ends taken out, in lines of 76 joined by `eol`; the
// body's own last line end is kept.
std::unique_ptr<BodyEncoder> Base64Rewrap(MendOutput& out, std::string eol);
// Quoted-printable lines given soft line breaks, never inside an =XX escape.
std::unique_ptr<BodyEncoder> SoftBreaks(MendOutput& out, std::string eol, Delimiters delimiters);
// Any text as quoted-printable with soft line breaks.
std::unique_ptr<BodyEncoder> QuotedPrintable(MendOutput& out, std::string eol,
                                             Delimiters delimiters);
// Text no reader shows (a multipart's preamble and epilogue) cut into short lines.
std::unique_ptr<BodyEncoder> WrapUnseen(MendOutput& out, std::string eol, Delimiters delimiters);

}  // namespace mailsheaf
