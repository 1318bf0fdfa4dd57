#include "upload/transport_words.h"

#include "base/text.h"

namespace mailsheaf {

std::u16string TimeoutText(const std::string& host, int timeout_ms, std::u16string_view stage) {
  // Tenths only where the bound has them, so that the usual whole seconds read plainly.
  const int tenths = (timeout_ms + 50) / 100;
  std::u16string text = u"The server " + Utf8ToUtf16(host) + u" did not answer within ";
  text += DecimalText(tenths / 10);
  if (tenths % 10 != 0) {
    text += u'.';
    text += DecimalText(tenths % 10);
  }
  text += tenths == 10 ? u" second (" : u" seconds (";
  text += stage;
  text += u')';
  return text;
}

}  // namespace mailsheaf
