#pragma once
// The program's help, carried in its own resources (made from the README of the same version),
// shown in a window of its own: read-only text the reader can resize, scroll and copy from.

#include <string>

#include "app/win32/windows_api.h"

namespace mailsheaf {

// The help text from `module`'s resources; empty when it has none.
std::u16string HelpText(HMODULE module);

// Opens the help window above `owner`, or brings the one already open to the front. Its text
// comes from the program's own module.
void ShowHelpWindow(HWND owner);

}  // namespace mailsheaf
