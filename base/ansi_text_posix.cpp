// The native build stands in for Windows with UTF-8 as its ANSI code page.

#include "base/ansi_text.h"

#include "base/text.h"

namespace mailsheaf {

std::string ToAnsiCodePage(std::u16string_view text) { return Utf16ToUtf8(text); }

std::u16string FromAnsiCodePage(std::string_view ansi) { return Utf8ToUtf16(ansi); }

}  // namespace mailsheaf
