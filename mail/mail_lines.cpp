#include "mail/mail_lines.h"

#include <algorithm>
#include <cstring>

namespace mailsheaf {

MailLine LineAt(std::string_view text, size_t pos) {
  MailLine line;
  const size_t stop = text.find_first_of("\r\n", pos);
  if (stop == std::string_view::npos) {
    line.text = text.substr(pos);
    line.next = text.size();
    return line;
  }
  const size_t end_size = text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n'
                              ? 2 : 1;
  line.text = text.substr(pos, stop - pos);
  line.end = text.substr(stop, end_size);
  line.next = stop + end_size;
  return line;
}

void LineLengthCheck::Feed(const unsigned char* data, size_t size) {
  // Lines end at an LF nearly always; a CR is looked for only inside each LF-ended stretch.
  const unsigned char* end = data + size;
  while (data < end) {
    const auto* lf = static_cast<const unsigned char*>(
        std::memchr(data, '\n', static_cast<size_t>(end - data)));
    const unsigned char* stop = lf ? lf : end;
    for (;;) {
      const auto* cr = static_cast<const unsigned char*>(
          std::memchr(data, '\r', static_cast<size_t>(stop - data)));
      if (cr == nullptr) break;
      current_ += static_cast<size_t>(cr - data);
      longest_ = std::max(longest_, current_);
      current_ = 0;
      data = cr + 1;
    }
    current_ += static_cast<size_t>(stop - data);
    if (lf == nullptr) return;
    longest_ = std::max(longest_, current_);
    current_ = 0;
    data = lf + 1;
  }
}

uint64_t LongestLine(std::string_view text) {
  LineLengthCheck check;
  check.Feed(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  return check.Longest();
}

bool IsFieldLine(std::string_view line) {
  size_t at = 0;
  while (at < line.size() && line[at] > ' ' && line[at] < 127 && line[at] != ':') ++at;
  if (at == 0) return false;
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  return at < line.size() && line[at] == ':';
}

bool IsMboxFromLine(std::string_view line) { return line.substr(0, 5) == "From "; }

}  // namespace mailsheaf
