#pragma once
// The shell's system calls that the helpers make, as a table: production uses the real one,
// tests hand in their own. Both the wide and the ANSI forms are there; `useWideCalls` says which
// the running Windows takes.

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

namespace mailsheaf {

struct ShellCalls {
  bool (*useWideCalls)();
  HINSTANCE(WINAPI* shellExecuteW)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
  HINSTANCE(WINAPI* shellExecuteA)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
  PIDLIST_ABSOLUTE(WINAPI* browseForFolderW)(LPBROWSEINFOW);
  PIDLIST_ABSOLUTE(WINAPI* browseForFolderA)(LPBROWSEINFOA);
  BOOL(WINAPI* getPathFromIdListW)(PCIDLIST_ABSOLUTE, LPWSTR);
  BOOL(WINAPI* getPathFromIdListA)(PCIDLIST_ABSOLUTE, LPSTR);
  void(WINAPI* coTaskMemFree)(LPVOID);
};

// The wide forms on the NT platform, the ANSI forms on the Windows 95 family.
bool ShellUsesWideCalls();

const ShellCalls& RealShellCalls();

}  // namespace mailsheaf
