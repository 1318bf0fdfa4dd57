#include "upload/imap_command.h"

namespace mailsheaf {

ImapCommand::ImapCommand(std::string_view name) {
  pieces_.push_back({std::string(name), {}, false});
}

ImapCommand& ImapCommand::Add(std::string_view text) {
  pieces_.back().text += ' ';
  pieces_.back().text += text;
  return *this;
}

ImapCommand& ImapCommand::AddString(std::string_view value, bool utf8_accepted) {
  if (FitsQuoted(value, utf8_accepted)) return Add(Quoted(value));
  owned_.emplace_back(value);
  return AddLiteral(owned_.back());
}

ImapCommand& ImapCommand::AddLiteral(std::string_view bytes) {
  pieces_.back().text += ' ';
  pieces_.back().literal = bytes;
  pieces_.back().has_literal = true;
  pieces_.push_back({});
  return *this;
}

size_t ImapCommand::LiteralBytes() const {
  size_t total = 0;
  for (const Piece& piece : pieces_) total += piece.literal.size();
  return total;
}

bool FitsQuoted(std::string_view value, bool utf8_accepted) {
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0 || byte == '\r' || byte == '\n' || (byte >= 0x80 && !utf8_accepted)) return false;
  }
  return true;
}

std::string Quoted(std::string_view value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace mailsheaf
