#include "app/win32/help_window.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "app/app_texts.h"
#include "base/text.h"
#include "resources/resource_ids.h"

namespace mailsheaf {
namespace {

constexpr wchar_t kHelpClass[] = L"MailsheafHelp";
constexpr int kTextId = 1;
// The first size at 96 DPI, scaled to the screen's: lines of a comfortable length for reading.
constexpr int kWidthAt96 = 600;
constexpr int kHeightAt96 = 540;
// Room between the text and the box's edges, at 96 DPI.
constexpr int kMarginAt96 = 6;

// One help window at a time; the process has one window thread.
struct OpenHelp {
  HWND window = nullptr;
  HFONT font = nullptr;
  WNDPROC textProc = nullptr;  // the text box's own
};
OpenHelp& Open() {
  static OpenHelp open;
  return open;
}

HFONT MessageFont() {
  NONCLIENTMETRICSW metrics{};
  // The size every version knows: the message font comes before the field later ones added.
  metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
    return nullptr;
  }
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

// Subclassed the old way: SetWindowSubclass is not exported by name before Windows XP.
LRESULT CALLBACK TextKeys(HWND text, UINT message, WPARAM wParam, LPARAM lParam) {
  // A reader expects Esc to close a help window.
  if (message == WM_KEYDOWN && wParam == VK_ESCAPE) {
    PostMessageW(GetParent(text), WM_CLOSE, 0, 0);
    return 0;
  }
  return CallWindowProcW(Open().textProc, text, message, wParam, lParam);
}

LRESULT CALLBACK HelpProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    switch (message) {
      case WM_SIZE:
        MoveWindow(GetDlgItem(window, kTextId), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
      case WM_SETFOCUS:
        SetFocus(GetDlgItem(window, kTextId));
        return 0;
      case WM_CTLCOLORSTATIC: {
        // A read-only box is drawn greyed, as if out of use; the help reads like a page.
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      case WM_NCDESTROY:
        if (Open().font) DeleteObject(Open().font);
        Open() = {};
        break;
      default:
        break;
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterHelpClass(HINSTANCE module) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (GetClassInfoExW(module, kHelpClass, &existing)) return true;
  WNDCLASSEXW help{};
  help.cbSize = sizeof(help);
  help.lpfnWndProc = &HelpProc;
  help.hInstance = module;
  help.hIcon = LoadIconW(module, MAKEINTRESOURCEW(MAILSHEAF_IDI_APP));
  help.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  help.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  help.lpszClassName = kHelpClass;
  return RegisterClassExW(&help) != 0;
}

}  // namespace

std::u16string HelpText(HMODULE module) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(MAILSHEAF_IDR_HELP),
                              reinterpret_cast<LPCWSTR>(RT_RCDATA));
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return {};
  return Utf8ToUtf16(std::string_view(static_cast<const char*>(bytes),
                                      SizeofResource(module, found)));
}

void ShowHelpWindow(HWND owner) {
  OpenHelp& open = Open();
  if (open.window) {
    if (IsIconic(open.window)) ShowWindow(open.window, SW_RESTORE);
    SetForegroundWindow(open.window);
    return;
  }
  HINSTANCE module = GetModuleHandleW(nullptr);
  if (!RegisterHelpClass(module)) return;

  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int width = std::min(MulDiv(kWidthAt96, dpi, 96), int(work.right - work.left));
  const int height = std::min(MulDiv(kHeightAt96, dpi, 96), int(work.bottom - work.top));

  const std::u16string title(kHelpTitle);
  HWND window = CreateWindowExW(0, kHelpClass, WidePointer(title), WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, width, height, owner, nullptr,
                                module, nullptr);
  if (!window) return;
  const std::u16string help = HelpText(module);
  HWND text = CreateWindowExW(
      0, L"EDIT", WidePointer(help),
      WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0, 0,
      0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTextId)), module, nullptr);
  if (!text) {
    DestroyWindow(window);
    return;
  }
  open.window = window;
  open.font = MessageFont();
  if (open.font) SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(open.font), FALSE);
  const int margin = MulDiv(kMarginAt96, dpi, 96);
  SendMessageW(text, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(margin, margin));
  open.textProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(text, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TextKeys)));
  RECT client;
  GetClientRect(window, &client);
  MoveWindow(text, 0, 0, client.right, client.bottom, FALSE);
  ShowWindow(window, SW_SHOWNORMAL);
  SetFocus(text);
}

}  // namespace mailsheaf
