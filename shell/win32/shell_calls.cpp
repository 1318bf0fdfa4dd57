#include "shell/win32/shell_calls.h"

#include "fs/capabilities.h"

namespace mailsheaf {

bool ShellUsesWideCalls() {
  // The same choice as the window's scan makes, so that a folder the browser returns is one the
  // scan can list.
  return PlatformSystem().WideCallsInUse();
}

const ShellCalls& RealShellCalls() {
  static const ShellCalls calls{
      &ShellUsesWideCalls,    &ShellExecuteW,        &ShellExecuteA,        &SHBrowseForFolderW,
      &SHBrowseForFolderA,    &SHGetPathFromIDListW, &SHGetPathFromIDListA, &CoTaskMemFree,
  };
  return calls;
}

}  // namespace mailsheaf
