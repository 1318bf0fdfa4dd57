#pragma once
// A message given piece by piece, cut into lines as mail_lines.h counts them (a CR or an LF
// ends a line, a CRLF pair ends one, a pair split between two pieces too). A line is handed on
// whole when it is short, and otherwise as its first kHead bytes and the rest in pieces, so
// that no line, however long, is held.

#include <cstddef>
#include <string>
#include <string_view>

namespace mailsheaf {

class LineSink {
 public:
  virtual ~LineSink() = default;
  // A line begins. `head` is all of its text when `whole`, else its first kHead bytes, with the
  // rest to follow through Rest. False from any call stops the splitter.
  virtual bool Line(std::string_view head, bool whole) = 0;
  virtual bool Rest(std::string_view piece) = 0;
  // The line's end: "\r\n", "\n" or "\r". Not called for a last line without one.
  virtual bool End(std::string_view eol) = 0;
};

class LineSplitter {
 public:
  static constexpr size_t kHead = 64 * 1024;

  explicit LineSplitter(LineSink& sink) : sink_(sink) {}
  bool Feed(std::string_view piece);
  // The end of the message.
  bool Finish();

 private:
  bool Text(std::string_view text);
  bool EndOfLine(std::string_view eol);

  LineSink& sink_;
  std::string head_;
  bool head_sent_ = false;
  bool in_line_ = false;
  bool cr_pending_ = false;  // the last piece ended in a CR whose LF may start the next
};

}  // namespace mailsheaf
