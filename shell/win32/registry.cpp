#include "shell/win32/registry.h"

#include "shell/trim_at_nul.h"

namespace mailsheaf {
namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// Letters the ANSI code page lacks become its default character.
std::string ToAnsi(const std::u16string& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, Wide(text), length, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_ACP, 0, Wide(text), length, ansi.data(), size, nullptr, nullptr);
  }
  return ansi;
}

std::u16string FromAnsi(const std::string& ansi) {
  if (ansi.empty()) return {};
  const int length = static_cast<int>(ansi.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  std::u16string text(static_cast<std::size_t>(size > 0 ? size : 0), u'\0');
  if (size > 0) {
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, reinterpret_cast<wchar_t*>(text.data()),
                        size);
  }
  return text;
}

std::u16string BrowseWide(const ShellCalls& calls, HWND owner, const std::u16string& title) {
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = Wide(title);
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE item = calls.browseForFolderW(&info);
  if (!item) return {};
  std::u16string buffer(MAX_PATH, u'\0');
  calls.getPathFromIdListW(item, reinterpret_cast<wchar_t*>(buffer.data()));
  calls.coTaskMemFree(item);
  return TrimAtNul(buffer);
}

std::u16string BrowseAnsi(const ShellCalls& calls, HWND owner, const std::u16string& title) {
  const std::string ansiTitle = ToAnsi(title);  // lives until the browser has closed
  BROWSEINFOA info{};
  info.hwndOwner = owner;
  info.lpszTitle = ansiTitle.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE item = calls.browseForFolderA(&info);
  if (!item) return {};
  std::string buffer(MAX_PATH, '\0');
  calls.getPathFromIdListA(item, buffer.data());
  calls.coTaskMemFree(item);
  std::u16string path = FromAnsi(buffer);
  return TrimAtNul(path);
}

}  // namespace

void ShellOpen(const std::u16string& target) { ShellOpen(RealShellCalls(), target); }

void ShellOpen(const ShellCalls& calls, const std::u16string& target) {
  if (target.empty()) return;
  try {
    if (calls.useWideCalls()) {
      calls.shellExecuteW(nullptr, L"open", Wide(target), L"", L"", SW_SHOWNORMAL);
    } else {
      // Windows 95 family only.
      const std::string ansiTarget = ToAnsi(target);
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
