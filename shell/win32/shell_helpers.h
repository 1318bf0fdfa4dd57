#pragma once
// The shell helpers: opening a document, folder or web address, and the folder browser.

#include <string>

#include "shell/win32/shell_calls.h"

namespace mailsheaf {

// Opens the target with the shell's "open" action, without an owner window. Reports nothing:
// a target the shell cannot open simply opens nothing. The empty text makes no call at all.
void ShellOpen(const std::u16string& target);
void ShellOpen(const ShellCalls& calls, const std::u16string& target);

// Shows the shell's folder browser, modal to `owner`, over the whole namespace with only
// file-system folders confirmable. Returns the chosen folder's path as the system gives it (a
// drive root keeps its backslash, C:\; other folders have none), or the empty text when the
// user cancels, the item has no file-system path, or anything fails.
std::u16string BrowseForFolderPath(HWND owner, const std::u16string& title);
std::u16string BrowseForFolderPath(const ShellCalls& calls, HWND owner,
                                   const std::u16string& title);

}  // namespace mailsheaf
