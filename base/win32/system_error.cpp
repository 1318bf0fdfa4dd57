#include "base/win32/system_error.h"

#include <cstdio>
#include <cstring>

#include "base/win32/wide.h"

namespace mailsheaf {

std::u16string SystemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::u16string text;
  if (length > 0 && buffer != nullptr) {
    text = FromWide(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ' ||
                             text.back() == u'.')) {
      text.pop_back();
    }
  }
  if (text.empty()) {
    // HRESULTs (SEC_E_*, CERT_E_*) read best in hex, as their documentation lists them.
    char digits[24];
    std::snprintf(digits, sizeof digits, code >= 0x80000000u ? "0x%08lX" : "%lu",
                  static_cast<unsigned long>(code));
    text = u"System error " + std::u16string(digits, digits + std::strlen(digits));
  }
  return text;
}

}  // namespace mailsheaf
