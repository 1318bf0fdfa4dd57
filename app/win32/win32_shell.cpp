#include "app/win32/win32_shell.h"

#include "shell/win32/shell_helpers.h"

namespace mailsheaf {

void Win32Shell::ShellOpen(const std::u16string& target) { mailsheaf::ShellOpen(target); }

}  // namespace mailsheaf
