#pragma once
// The ANSI code page at the edge of the system's "A" calls, which the Windows 95 family takes.

#include <string>
#include <string_view>

namespace mailsheaf {

// Letters the code page lacks become its default character.
std::string ToAnsiCodePage(std::u16string_view text);

std::u16string FromAnsiCodePage(std::string_view ansi);

}  // namespace mailsheaf
