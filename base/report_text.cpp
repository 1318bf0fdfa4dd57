#include "base/report_text.h"

#include "base/text.h"

namespace mailsheaf {
namespace {

std::u16string Hex(unsigned value) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  return {u'\\', u'x', kDigits[(value >> 4) & 15], kDigits[value & 15]};
}

}  // namespace

std::u16string Shown(std::u16string_view name) {
  std::u16string shown = u"\"";
  for (char16_t c : name) {
    if (c == u'\n') {
      shown += u"\\n";
    } else if (c == u'\r') {
      shown += u"\\r";
    } else if (c == u'\t') {
      shown += u"\\t";
    } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      shown += Hex(c);
    } else if (c >= 0xDC80 && c <= 0xDCFF) {  // a byte of a name that is not UTF-8
      shown += Hex(0x80 + (c - 0xDC80));
    } else {
      shown.push_back(c);
    }
  }
  return shown + u"\"";
}

std::u16string CountText(int64_t n, const char16_t* one, const char16_t* many) {
  return DecimalText(n) + u" " + (n == 1 ? one : many);
}

}  // namespace mailsheaf
