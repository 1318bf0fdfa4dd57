#include "upload/imap_form.h"

#include "base/ascii.h"

namespace mailsheaf {

void ImapFormWriter::Put(const unsigned char* data, size_t size) {
  const char* at = reinterpret_cast<const char*>(data);
  const char* const end = at + size;
  while (at < end) {
    // Most of a message is neither a line end nor a NUL: such a run goes in whole.
    const char* run = at;
    while (run < end && *run != '\r' && *run != '\n' && *run != '\0') ++run;
    if (run > at) {
      if (after_cr_) out_ += '\n';
      after_cr_ = false;
      out_.append(at, static_cast<size_t>(run - at));
      at = run;
      continue;
    }
    const char c = *at++;
    if (after_cr_ && c != '\n') out_ += '\n';
    after_cr_ = c == '\r';
    if (c == '\n' && (out_.empty() || out_.back() != '\r')) {
      out_ += "\r\n";
    } else if (c == '\0') {
      out_ += '\x80';
      nul_replaced_ = true;
    } else {
      out_ += c;
    }
  }
}

void ImapFormWriter::Finish() {
  if (after_cr_) out_ += '\n';
  after_cr_ = false;
}

uint64_t SizeWithoutMboxFields(std::string_view message) {
  static constexpr std::string_view kHidden[] = {"Status",     "X-Status", "X-Keywords",
                                                 "X-UID",      "X-IMAP",   "X-IMAPbase",
                                                 "Content-Length"};
  uint64_t hidden = 0;
  bool in_hidden = false;
  size_t at = 0;
  while (at < message.size()) {
    const size_t end = message.find("\r\n", at);
    const size_t next = end == std::string_view::npos ? message.size() : end + 2;
    const std::string_view line = message.substr(at, next - at);
    if (line == "\r\n" || end == std::string_view::npos) break;
    if (line[0] != ' ' && line[0] != '\t') {
      const size_t colon = line.find(':');
      std::string_view name = line.substr(0, colon == std::string_view::npos ? 0 : colon);
      while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
      in_hidden = false;
      for (std::string_view h : kHidden) in_hidden |= SameAsciiLetters(name, h);
    }
    if (in_hidden) hidden += line.size();
    at = next;
  }
  return message.size() - hidden;
}

std::string ImapForm(std::string_view message) {
  std::string out;
  ImapFormWriter writer(out);
  writer.Put(reinterpret_cast<const unsigned char*>(message.data()), message.size());
  writer.Finish();
  return out;
}

}  // namespace mailsheaf
