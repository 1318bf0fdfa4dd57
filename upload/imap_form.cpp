#include "upload/imap_form.h"

namespace mailsheaf {

void ImapFormWriter::Put(const unsigned char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
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

std::string ImapForm(std::string_view message) {
  std::string out;
  ImapFormWriter writer(out);
  writer.Put(reinterpret_cast<const unsigned char*>(message.data()), message.size());
  writer.Finish();
  return out;
}

}  // namespace mailsheaf
