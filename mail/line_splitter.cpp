#include "mail/line_splitter.h"

#include <algorithm>

namespace mailsheaf {

bool LineSplitter::Text(std::string_view text) {
  if (text.empty()) return true;
  in_line_ = true;
  if (head_sent_) return sink_.Rest(text);
  const size_t take = std::min(text.size(), kHead - head_.size());
  head_.append(text.substr(0, take));
  if (take == text.size()) return true;
  head_sent_ = true;
  return sink_.Line(head_, false) && sink_.Rest(text.substr(take));
}

bool LineSplitter::EndOfLine(std::string_view eol) {
  const bool ok = (head_sent_ || sink_.Line(head_, true)) && sink_.End(eol);
  head_.clear();
  head_sent_ = false;
  in_line_ = false;
  return ok;
}

bool LineSplitter::Feed(std::string_view piece) {
  size_t at = 0;
  if (cr_pending_ && !piece.empty()) {
    cr_pending_ = false;
    const bool pair = piece[0] == '\n';
    if (!EndOfLine(pair ? "\r\n" : "\r")) return false;
    at = pair ? 1 : 0;
  }
  while (at < piece.size()) {
    const size_t stop = piece.find_first_of("\r\n", at);
    if (stop == std::string_view::npos) return Text(piece.substr(at));
    if (!Text(piece.substr(at, stop - at))) return false;
    if (piece[stop] == '\n') {
      if (!EndOfLine("\n")) return false;
      at = stop + 1;
    } else if (stop + 1 == piece.size()) {
      in_line_ = true;
      cr_pending_ = true;
      return true;
    } else {
      const bool pair = piece[stop + 1] == '\n';
      if (!EndOfLine(pair ? "\r\n" : "\r")) return false;
      at = stop + (pair ? 2 : 1);
    }
  }
  return true;
}

bool LineSplitter::Finish() {
  if (cr_pending_) {
    cr_pending_ = false;
    return EndOfLine("\r");
  }
  if (!in_line_) return true;
  const bool ok = head_sent_ || sink_.Line(head_, true);
  head_.clear();
  head_sent_ = false;
  in_line_ = false;
  return ok;
}

}  // namespace mailsheaf
