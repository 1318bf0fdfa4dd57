#include "base/ansi_text.h"

#include <windows.h>

#include "base/win32/wide.h"

namespace mailsheaf {

std::string ToAnsiCodePage(std::u16string_view text) {
  if (text.empty()) return {};
  const int units = static_cast<int>(text.size());
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, WideUnits(text), units, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) {
    WideCharToMultiByte(CP_ACP, 0, WideUnits(text), units, ansi.data(), bytes, nullptr, nullptr);
  }
  return ansi;
}

std::u16string FromAnsiCodePage(std::string_view ansi) {
  if (ansi.empty()) return {};
  const int bytes = static_cast<int>(ansi.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), bytes, nullptr, 0);
  std::u16string text(static_cast<std::size_t>(units > 0 ? units : 0), u'\0');
  if (units > 0) {
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), bytes, WideBuffer(text), units);
  }
  return text;
}

}  // namespace mailsheaf
