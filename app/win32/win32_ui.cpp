#include "app/win32/win32_ui.h"

#include "app/win32/windows_api.h"

#include <cstddef>

#include <commdlg.h>
#include "app/long_words.h"
#include "app/win32/account_dialog.h"
#include "app/win32/help_window.h"
#include "shell/win32/shell_helpers.h"

namespace mailsheaf {
namespace {

HWND AsHwnd(WindowHandle handle) { return reinterpret_cast<HWND>(handle); }

// The save dialog's file name buffer: room for long paths.
constexpr std::size_t kFileNameCapacity = 32768;

// The text with its long words (paths) broken into lines no wider than half the screen's work
// area, at the font of message boxes: the box, with its icon and edges, stays on the screen.
std::u16string FitToScreen(const std::u16string& text, HWND owner) {
  NONCLIENTMETRICSW metrics{};
  // The size every version knows: the message font comes before the field later ones added.
  metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) return text;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (!GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor)) return text;
  HDC dc = GetDC(nullptr);
  if (!dc) return text;
  HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
  std::u16string broken = BreakLongWords(
      text, (monitor.rcWork.right - monitor.rcWork.left) / 2, [dc](std::u16string_view part) {
        SIZE extent{};
        GetTextExtentPoint32W(dc, WideUnits(part), static_cast<int>(part.size()), &extent);
        return static_cast<int>(extent.cx);
      });
  SelectObject(dc, old);
  if (font) DeleteObject(font);
  ReleaseDC(nullptr, dc);
  return broken;
}

}  // namespace

MessageAnswer Win32Ui::ShowMessage(const MessageRequest& request) {
  UINT type = MB_DEFBUTTON1 | MB_APPLMODAL;
  type |= request.buttons == MessageButtons::YesNo ? MB_YESNO : MB_OK;
  switch (request.icon) {
    case MessageIcon::Information: type |= MB_ICONINFORMATION; break;
    case MessageIcon::Question: type |= MB_ICONQUESTION; break;
    case MessageIcon::None: break;
  }
  const std::u16string text = FitToScreen(request.text, AsHwnd(owner_));
  const int answer =
      MessageBoxW(AsHwnd(owner_), WidePointer(text), WidePointer(request.caption), type);
  switch (answer) {
    case IDYES: return MessageAnswer::Yes;
    case IDNO: return MessageAnswer::No;
    default: break;
  }
  // A Yes/No box closed any other way counts as No; an OK box can only say OK.
  return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

std::u16string Win32Ui::BrowseForFolderPath(WindowHandle owner, const std::u16string& title) {
  return mailsheaf::BrowseForFolderPath(AsHwnd(owner), title);
}

std::optional<std::u16string> Win32Ui::ShowSaveDialog(const SaveDialogRequest& request) {
  // The filter's separators become the NULs the dialog expects; it ends with two.
  std::u16string filter = request.filter;
  for (char16_t& c : filter) {
    if (c == u'|') c = u'\0';
  }
  filter.push_back(u'\0');
  filter.push_back(u'\0');

  std::u16string fileName = request.proposedName;
  fileName.resize(kFileNameCapacity, u'\0');
  if (request.proposedName.size() >= kFileNameCapacity) fileName.back() = u'\0';

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = AsHwnd(request.owner);
  dialog.lpstrFilter = WidePointer(filter);
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = WideBuffer(fileName);
  dialog.nMaxFile = static_cast<DWORD>(kFileNameCapacity);
  // A name typed without an extension gets ".tgz"; an existing file is replaced only when the
  // user says so.
  dialog.lpstrDefExt = L"tgz";
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT;
  if (!GetSaveFileNameW(&dialog)) return std::nullopt;
  fileName.resize(fileName.find(u'\0'));
  return fileName;
}

std::optional<AccountChoice> Win32Ui::ShowAccountDialog(WindowHandle owner,
                                                        const AccountChoice& initial,
                                                        AccountCheck& check) {
  return RunAccountDialog(AsHwnd(owner), initial, check);
}
void Win32Ui::ShowHelp(WindowHandle owner) { ShowHelpWindow(AsHwnd(owner)); }

}  // namespace mailsheaf
