#include "shell/win32/shell_calls.h"

namespace mailsheaf {

bool ShellUsesWideCalls() {
  // Bit 31 of GetVersion is set on the Windows 95 family and clear on NT.
  return (GetVersion() & 0x80000000u) == 0;
}

const ShellCalls& RealShellCalls() {
  static const ShellCalls calls{
      &ShellUsesWideCalls,    &ShellExecuteW,        &ShellExecuteA,        &SHBrowseForFolderW,
      &SHBrowseForFolderA,    &SHGetPathFromIDListW, &SHGetPathFromIDListA, &CoTaskMemFree,
  };
  return calls;
}

}  // namespace mailsheaf
