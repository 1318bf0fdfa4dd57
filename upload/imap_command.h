#pragma once
// A command as it goes on the wire: text, and literals that the session sends either at once
// ("{n+}", LITERAL+) or after the server's "+" continuation ("{n}").

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace mailsheaf {

class ImapCommand {
 public:
  struct Piece {
    std::string text;          // sent before the literal (the "{n}" is the session's)
    std::string_view literal;  // empty for the last piece
    bool has_literal = false;
  };

  explicit ImapCommand(std::string_view name);

  // " " and the text as it is: atoms, numbers, lists the caller built.
  ImapCommand& Add(std::string_view text);
  // " " and the value as a quoted string, or as a literal when it cannot be one (a CR, LF or
  // NUL; bytes past ASCII unless the server accepts UTF-8).
  ImapCommand& AddString(std::string_view value, bool utf8_accepted);
  // " " and a literal of these bytes, which must outlive the sending.
  ImapCommand& AddLiteral(std::string_view bytes);

  const std::vector<Piece>& pieces() const { return pieces_; }
  size_t LiteralBytes() const;

 private:
  std::vector<Piece> pieces_;
  std::deque<std::string> owned_;  // AddString's literals; a deque keeps their views valid
};

// Whether the value can go as a quoted string.
bool FitsQuoted(std::string_view value, bool utf8_accepted);
// The value in double quotes, '"' and '\' escaped.
std::string Quoted(std::string_view value);

}  // namespace mailsheaf
