#include "shell/win32/shell_helpers.h"

#include <utility>

#include "base/ansi_text.h"
#include "base/nul_trim.h"
#include "base/win32/wide.h"

namespace mailsheaf {
namespace {

std::u16string BrowseWide(const ShellCalls& calls, HWND owner, const std::u16string& title) {
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = WidePointer(title);
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE item = calls.browseForFolderW(&info);
  if (!item) return {};
  std::u16string buffer(MAX_PATH, u'\0');
  calls.getPathFromIdListW(item, WideBuffer(buffer));
  calls.coTaskMemFree(item);
  return CutAtNul(std::move(buffer));
}

std::u16string BrowseAnsi(const ShellCalls& calls, HWND owner, const std::u16string& title) {
  const std::string ansiTitle = ToAnsiCodePage(title);  // lives until the browser has closed
  BROWSEINFOA info{};
  info.hwndOwner = owner;
  info.lpszTitle = ansiTitle.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE item = calls.browseForFolderA(&info);
  if (!item) return {};
  std::string buffer(MAX_PATH, '\0');
  calls.getPathFromIdListA(item, buffer.data());
  calls.coTaskMemFree(item);
  return CutAtNul(FromAnsiCodePage(buffer));
}

}  // namespace

void ShellOpen(const std::u16string& target) { ShellOpen(RealShellCalls(), target); }

void ShellOpen(const ShellCalls& calls, const std::u16string& target) {
  if (target.empty()) return;
  try {
    if (calls.useWideCalls()) {
      calls.shellExecuteW(nullptr, L"open", WidePointer(target), L"", L"", SW_SHOWNORMAL);
    } else {
      // Windows 95 family only.
      const std::string ansiTarget = ToAnsiCodePage(target);
      calls.shellExecuteA(nullptr, "open", ansiTarget.c_str(), "", "", SW_SHOWNORMAL);
    }
  } catch (...) {
    // Nothing to report: the target just does not open.
  }
}

std::u16string BrowseForFolderPath(HWND owner, const std::u16string& title) {
  return BrowseForFolderPath(RealShellCalls(), owner, title);
}

std::u16string BrowseForFolderPath(const ShellCalls& calls, HWND owner,
                                   const std::u16string& title) {
  try {
    // The ANSI browser runs only on the Windows 95 family.
    return calls.useWideCalls() ? BrowseWide(calls, owner, title) : BrowseAnsi(calls, owner, title);
  } catch (...) {
    return {};
  }
}

}  // namespace mailsheaf
