// The real window under Wine: what a person sees and what the keyboard and mouse do, checked
// from the Win32 side.

#include "app/win32/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "app/twips.h"
#include "app/win32/win32_host.h"
#include "app/win32/win32_ui.h"

#include <commctrl.h>
#include "resources/resource_ids.h"
#include "tests/support/app_fakes.h"

namespace mailsheaf {
namespace {

using testing::RecordingHost;
using testing::RecordingShell;
using testing::RecordingUi;

// Colours that follow the system's scheme rather than a fixed value.
constexpr COLORREF kFace = 0xFF000001;
constexpr COLORREF kText = 0xFF000002;
COLORREF Resolve(COLORREF c) {
  if (c == kFace) return GetSysColor(COLOR_BTNFACE);
  if (c == kText) return GetSysColor(COLOR_BTNTEXT);
  return c;
}

struct Expected {
  ControlId id;
  const wchar_t* windowClass;
  const char16_t* text;
  RECT at;  // left, top, width, height in pixels at 96 DPI, in the container's client area
  const wchar_t* face;  // nullptr: no font of its own
  int fontHeight;
  int weight;
  int charset;
  bool enabled;
  bool visible;
  COLORREF fore = 0;  // labels only
  COLORREF back = 0;
  bool ampersandsLiteral = false;
};

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kPathBlue = RGB(0, 0, 192);

// The window as designed, converted by hand at 15 twips to the pixel.
const std::vector<Expected> kExpected = {
    {ControlId::lblTitle, L"Static", u"Corvane Mailsheaf", {16, 8, 417, 25}, L"Tahoma", -19, 700, 0, true, true, RGB(0, 0, 192), kWhite},
    {ControlId::lblCopyright, L"Static", u"Copyright \u00A9 2026 Corvane. Support: support@corvane.example", {16, 32, 409, 17}, L"Tahoma", -11, 400, 0, true, true, RGB(0, 0, 0), kWhite},
    {ControlId::Label3, L"Static", u"Mailsheaf supports conversion of (*.eml) email messages to Zimbra compatible mailbox file. Converted file can be easily imported into Zimbra Web Client or Zimbra Desktop via Import option.", {16, 64, 673, 40}, L"Verdana", -12, 400, 0, true, true, kText, kFace},
    {ControlId::Image2, L"Static", u"", {24, 112, 16, 16}, nullptr, 0, 0, 0, true, true},
    {ControlId::Label2, L"Static", u"First locate your folder having (*.eml) files && then select main folder having *.eml files", {48, 112, 633, 17}, L"Tahoma", -12, 700, 0, true, true, kText, RGB(255, 255, 192)},
    {ControlId::CmdAddFolder, L"Button", u"Select folder having (*.eml) file(s)...", {16, 144, 249, 30}, L"Tahoma", -12, 700, 0, true, true},
    {ControlId::Image1, L"Static", u"", {288, 152, 16, 16}, nullptr, 0, 0, 0, true, true},
    {ControlId::Label4, L"Static", u"Need Help - Read Step-by-Step Product Guide", {312, 152, 225, 17}, L"Tahoma", -11, 400, 0, true, true, RGB(0, 0, 255), kFace},
    {ControlId::Label5, L"Static", u"Source Folder    : ", {16, 179, 105, 17}, L"Tahoma", -12, 400, 0, true, true, kText, kFace},
    {ControlId::LblSource, L"Static", u"< Not Selected >", {120, 179, 561, 17}, L"Tahoma", -11, 400, 0, true, true, kPathBlue, kFace, true},
    {ControlId::LblCount, L"Static", u"", {16, 200, 665, 17}, L"Tahoma", -11, 700, 0, true, true, RGB(192, 0, 0), kFace},
    {ControlId::Frame1, L"MailsheafContainer", u" Conversion Details ", {16, 224, 673, 89}, L"Verdana", -12, 400, 0, true, true},
    {ControlId::Label8, L"Static", u"Reading File(s)     :", {16, 24, 137, 25}, L"Tahoma", -11, 400, 0, true, true, kText, kFace},
    {ControlId::LblTarFile, L"Static", u"< Not Selected >", {128, 24, 529, 33}, L"Tahoma", -11, 400, 0, true, true, kPathBlue, kFace, true},
    {ControlId::Label1, L"Static", u"Progress Update  : ", {16, 64, 105, 17}, L"Tahoma", -11, 400, 0, true, true, kText, kFace},
    {ControlId::ProgressBar_tgz, L"msctls_progress32", u"", {128, 64, 529, 17}, nullptr, 0, 0, 0, true, true},
    {ControlId::Label6, L"Static", u"Destination File  : ", {16, 327, 97, 17}, L"Tahoma", -12, 400, 0, true, true, kText, kFace},
    {ControlId::LblDestination, L"Static", u"< Not Selected >", {120, 327, 425, 33}, L"Tahoma", -11, 400, 0, true, true, kPathBlue, kFace, true},
    {ControlId::CmdOpen, L"Button", u"Open Saving Location", {552, 320, 137, 30}, L"Tahoma", -12, 400, 0, false, true},
    {ControlId::CmdConvertTGZ, L"Button", u"Start Conversion", {232, 376, 241, 37}, L"Verdana", -15, 700, 238, false, true},
    {ControlId::CmdSendToAccount, L"Button", u"Send to &Mail Account...", {489, 376, 200, 37}, L"Verdana", -12, 700, 0, false, true},
    {ControlId::CmdStop, L"Button", u"Stop Conversion", {232, 376, 241, 37}, L"Verdana", -15, 700, 238, true, false},
    {ControlId::Picture3, L"MailsheafContainer", u"", {0, 432, 697, 33}, nullptr, 0, 0, 0, true, true},
    {ControlId::CmdHelp, L"Button", u"&Help Manual", {16, 3, 113, 30}, L"Verdana", -12, 400, 0, true, true},
    {ControlId::cmdEnd, L"Button", u"E&xit", {600, 3, 89, 30}, L"Verdana", -12, 400, 0, true, true},
};

std::u16string TextOf(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
  GetWindowTextW(hwnd, WideBuffer(text), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

std::string Name(ControlId id) {
  const auto name = DesignOf(id).name;
  return std::string(name.begin(), name.end());
}

class Bitmap {
 public:
  Bitmap(int width, int height) : width_(width) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
  }
  ~Bitmap() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  COLORREF At(int x, int y) const {
    const DWORD p = bits_[y * width_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }

 private:
  int width_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
  DWORD* bits_ = nullptr;
};

class MainWindowTest : public ::testing::Test {
 protected:
  // The window is activated but not put on screen: under Xvfb, without a window manager, Wine
  // waits two seconds for every shown window to be withdrawn again. One test shows it.
  void SetUp() override {
    InitCommonControls();
    window = Build(96);
    ASSERT_TRUE(window);
    SetForegroundWindow(window->Handle());
    Pump();
  }

  std::unique_ptr<MainWindow> Build(int dpi, RECT workArea = {}) {
    MainWindowOptions options;
    options.resources = GetModuleHandleW(nullptr);
    options.dpiX = dpi;
    options.dpiY = dpi;
    options.workArea = workArea;
    return MainWindow::Create(form, options);
  }

  // The control as it paints itself, row by row.
  std::vector<COLORREF> Painted(ControlId id) const {
    RECT box;
    GetClientRect(Control(id), &box);
    Bitmap shot(box.right, box.bottom);
    SendMessageW(Control(id), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(shot.dc()), PRF_CLIENT);
    std::vector<COLORREF> pixels;
    for (int at = 0; at < box.right * box.bottom; ++at) {
      pixels.push_back(shot.At(at % box.right, at / box.right));
    }
    return pixels;
  }

  void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!window->PreTranslate(msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
  }

  HWND Control(ControlId id) const { return window->ControlWindow(id); }

  std::optional<ControlId> Focused() const {
    HWND focus = GetFocus();
    for (const ControlDesign& row : ControlTable()) {
      if (focus && Control(row.id) == focus) return row.id;
    }
    return std::nullopt;
  }

  // A key as the message loop meets it, aimed at the focused window.
  bool Key(UINT message, WPARAM key, bool shift = false) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    MSG msg{};
    msg.hwnd = GetFocus() ? GetFocus() : window->Handle();
    msg.message = message;
    msg.wParam = key;
    msg.lParam = message == WM_SYSCHAR ? (1 << 29) : 0;
    const bool handled = window->PreTranslate(msg);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    return handled;
  }

  RecordingUi ui;
  RecordingShell shell;
  RecordingHost host;
  testing::FixedClock clock;
  testing::ScriptedTarFactory tars;
  FrmStep1 form{ui, shell, host, clock, tars, PlatformSystem()};
  std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, EveryControlShowsItsDesignTextPlaceFontAndState) {
  ASSERT_EQ(kExpected.size() + 3, static_cast<std::size_t>(kControlCount));  // + three rectangles
  Bitmap scratch(4, 4);
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(Name(e.id));
    HWND hwnd = Control(e.id);
    ASSERT_NE(hwnd, nullptr);

    wchar_t className[64];
    GetClassNameW(hwnd, className, 64);
    EXPECT_EQ(lstrcmpiW(className, e.windowClass), 0) << "class";
    EXPECT_EQ(TextOf(hwnd), e.text);

    RECT r;
    GetWindowRect(hwnd, &r);
    MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
    // As designed, except that a control grows where its text needs more room than this
    // screen's fonts leave it, and one pushed along by a grown neighbour starts further right,
    // giving up width it can spare; "Open Saving Location" grows leftwards, keeping its right.
    EXPECT_EQ(r.top, e.at.top);
    EXPECT_GE(r.bottom - r.top, e.at.bottom) << "height";
    if (e.id == ControlId::LblDestination && r.right < e.at.left + e.at.right) {
      RECT open;
      GetWindowRect(Control(ControlId::CmdOpen), &open);
      MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&open), 2);
      EXPECT_EQ(r.right + 3, open.left) << "half the gap kept";
    } else if (r.left == e.at.left) {
      EXPECT_GE(r.right - r.left, e.at.right) << "width";
    } else {
      EXPECT_EQ(r.left > e.at.left, e.id != ControlId::CmdOpen);
      EXPECT_EQ(r.right, e.at.left + e.at.right) << "a moved control keeps its right edge";
    }

    const HWND expectedParent = DesignOf(e.id).container == Container::Window ? window->Handle()
                                : DesignOf(e.id).container == Container::Frame1 ? Control(ControlId::Frame1)
                                                                              : Control(ControlId::Picture3);
    EXPECT_EQ(GetParent(hwnd), expectedParent);

    if (e.face) {
      HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
      ASSERT_NE(font, nullptr);
      LOGFONTW lf{};
      GetObjectW(font, sizeof(lf), &lf);
      EXPECT_STREQ(lf.lfFaceName, e.face);
      EXPECT_EQ(lf.lfHeight, e.fontHeight);
      EXPECT_EQ(lf.lfWeight, e.weight);
      EXPECT_EQ(lf.lfCharSet, e.charset);
    }

    EXPECT_EQ(IsWindowEnabled(hwnd) != FALSE, e.enabled) << "enabled";
    EXPECT_EQ((GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0, e.visible) << "visible";

    if (e.fore || e.back) {
      SetTextColor(scratch.dc(), RGB(1, 2, 3));
      auto brush = reinterpret_cast<HBRUSH>(
          SendMessageW(GetParent(hwnd), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(scratch.dc()),
                       reinterpret_cast<LPARAM>(hwnd)));
      ASSERT_NE(brush, nullptr);
      LOGBRUSH lb{};
      GetObjectW(brush, sizeof(lb), &lb);
      EXPECT_EQ(lb.lbColor, Resolve(e.back)) << "background";
      EXPECT_EQ(GetBkColor(scratch.dc()), Resolve(e.back)) << "text background";
      EXPECT_EQ(GetTextColor(scratch.dc()), Resolve(e.fore)) << "text colour";
      // Without SS_NOPREFIX a label shows "&&" as one "&".
      EXPECT_EQ((GetWindowLongW(hwnd, GWL_STYLE) & SS_NOPREFIX) != 0, e.ampersandsLiteral);
    }
  }
  // The rectangles are painted, not windows.
  for (ControlId shape : {ControlId::Shape1, ControlId::Shape2, ControlId::Shape3}) {
    EXPECT_EQ(Control(shape), nullptr);
  }
}

TEST_F(MainWindowTest, TheWindowHasItsTitleAFixedBorderAndItsClientSizeCentred) {
  HWND hwnd = window->Handle();
  EXPECT_EQ(TextOf(hwnd), u"Corvane Mailsheaf v3.0");
  const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);

  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 705);
  EXPECT_EQ(client.bottom, 475);

  RECT outer;
  GetWindowRect(hwnd, &outer);
  EXPECT_NEAR((outer.left + outer.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((outer.top + outer.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

  EXPECT_NE(GetClassLongPtrW(hwnd, GCLP_HICON), 0);
  EXPECT_NE(GetClassLongPtrW(hwnd, GCLP_HICONSM), 0);
}

TEST_F(MainWindowTest, ShapesArePaintedUnderTheControls) {
  Bitmap surface(705, 475);
  SendMessageW(window->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(surface.dc()), PRF_CLIENT);
  const COLORREF grey = RGB(192, 192, 192);
  EXPECT_EQ(surface.At(0, 0), grey);                      // Shape2's border
  EXPECT_EQ(surface.At(700, 30), kWhite);                 // Shape2's fill
  EXPECT_EQ(surface.At(300, 56), grey);                   // its bottom edge
  EXPECT_EQ(surface.At(5, 60), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(surface.At(16, 120), grey);                   // Shape3's border
  EXPECT_EQ(surface.At(684, 120), RGB(255, 255, 192));    // Shape3's fill
  EXPECT_EQ(surface.At(300, 424), grey);                  // Shape1's top edge
  EXPECT_EQ(surface.At(300, 450), kWhite);                // Shape1's fill
  EXPECT_EQ(surface.At(0, 450), kWhite);                  // its left edge lies outside
}

TEST_F(MainWindowTest, StopCoversStartWhenShown) {
  // Stacking order, topmost first.
  std::vector<HWND> order;
  for (HWND h = GetWindow(window->Handle(), GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) order.push_back(h);
  const auto stop = std::find(order.begin(), order.end(), Control(ControlId::CmdStop));
  const auto start = std::find(order.begin(), order.end(), Control(ControlId::CmdConvertTGZ));
  ASSERT_NE(stop, order.end());
  ASSERT_NE(start, order.end());
  EXPECT_LT(stop - order.begin(), start - order.begin());

  const POINT centre{232 + 120, 376 + 18};
  EXPECT_EQ(ChildWindowFromPointEx(window->Handle(), centre, CWP_SKIPINVISIBLE),
            Control(ControlId::CmdConvertTGZ));
  form.SetVisible(ControlId::CmdStop, true);
  EXPECT_EQ(ChildWindowFromPointEx(window->Handle(), centre, CWP_SKIPINVISIBLE),
            Control(ControlId::CmdStop));
  form.SetVisible(ControlId::CmdStop, false);
  EXPECT_EQ(ChildWindowFromPointEx(window->Handle(), centre, CWP_SKIPINVISIBLE),
            Control(ControlId::CmdConvertTGZ));
}

TEST_F(MainWindowTest, OnScreenItOpensWithTheFocusOnTheFirstButtonUntilHidden) {
  SetFocus(nullptr);
  window->Show(SW_SHOWNORMAL);
  EXPECT_TRUE(IsWindowVisible(window->Handle()));
  EXPECT_TRUE(IsWindowVisible(Control(ControlId::LblSource)));
  EXPECT_FALSE(IsWindowVisible(Control(ControlId::CmdStop)));
  EXPECT_EQ(Focused(), ControlId::CmdAddFolder);
  form.HideWindow();
  EXPECT_FALSE(IsWindowVisible(window->Handle()));
}

TEST_F(MainWindowTest, TabFollowsTheKeyboardOrderSkippingUnavailableButtons) {
  EXPECT_EQ(Focused(), ControlId::CmdAddFolder);
  std::vector<ControlId> visited;
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(Key(WM_KEYDOWN, VK_TAB));
    visited.push_back(Focused().value_or(ControlId::Shape1));
  }
  EXPECT_EQ(visited, (std::vector<ControlId>{ControlId::cmdEnd, ControlId::CmdHelp,
                                             ControlId::CmdAddFolder, ControlId::cmdEnd}));

  form.SetEnabled(ControlId::CmdConvertTGZ, true);
  form.SetEnabled(ControlId::CmdOpen, true);
  form.SetVisible(ControlId::CmdStop, true);
  SetFocus(Control(ControlId::CmdAddFolder));
  visited.clear();
  for (int i = 0; i < 7; ++i) {
    Key(WM_KEYDOWN, VK_TAB);
    visited.push_back(Focused().value_or(ControlId::Shape1));
  }
  EXPECT_EQ(visited, (std::vector<ControlId>{ControlId::CmdConvertTGZ, ControlId::CmdSendToAccount,
                                             ControlId::cmdEnd, ControlId::CmdHelp,
                                             ControlId::CmdOpen, ControlId::CmdStop,
                                             ControlId::CmdAddFolder}));
  visited.clear();
  for (int i = 0; i < 3; ++i) {
    Key(WM_KEYDOWN, VK_TAB, /*shift=*/true);
    visited.push_back(Focused().value_or(ControlId::Shape1));
  }
  EXPECT_EQ(visited, (std::vector<ControlId>{ControlId::CmdStop, ControlId::CmdOpen,
                                             ControlId::CmdHelp}));
}

TEST_F(MainWindowTest, ABrokenFocusMovesOnWhenItsButtonIsDisabledOrHidden) {
  SetFocus(Control(ControlId::CmdHelp));
  form.SetEnabled(ControlId::CmdHelp, false);
  EXPECT_EQ(Focused(), ControlId::CmdAddFolder);

  form.SetEnabled(ControlId::CmdConvertTGZ, true);
  SetFocus(Control(ControlId::CmdConvertTGZ));
  form.SetVisible(ControlId::CmdConvertTGZ, false);
  EXPECT_EQ(Focused(), ControlId::CmdSendToAccount);
}

TEST_F(MainWindowTest, AButtonAvailableAgainGetsBackTheFocusItLost) {
  SetFocus(Control(ControlId::CmdAddFolder));
  form.SetEnabled(ControlId::CmdAddFolder, false);
  EXPECT_EQ(Focused(), ControlId::cmdEnd);
  form.SetEnabled(ControlId::CmdAddFolder, true);
  EXPECT_EQ(Focused(), ControlId::CmdAddFolder);

  form.SetEnabled(ControlId::CmdConvertTGZ, true);
  SetFocus(Control(ControlId::CmdConvertTGZ));
  form.SetVisible(ControlId::CmdConvertTGZ, false);
  form.SetVisible(ControlId::CmdConvertTGZ, true);
  EXPECT_EQ(Focused(), ControlId::CmdConvertTGZ);

  // Where the user has moved the focus meanwhile, it stays.
  form.SetEnabled(ControlId::CmdConvertTGZ, false);
  EXPECT_EQ(Focused(), ControlId::cmdEnd);
  Key(WM_KEYDOWN, VK_TAB);
  EXPECT_EQ(Focused(), ControlId::CmdHelp);
  form.SetEnabled(ControlId::CmdConvertTGZ, true);
  EXPECT_EQ(Focused(), ControlId::CmdHelp);

  // A focus the form places itself goes where it is sent, and only to an available button.
  form.FocusControl(ControlId::CmdConvertTGZ);
  EXPECT_EQ(Focused(), ControlId::CmdConvertTGZ);
  form.FocusControl(ControlId::CmdOpen);  // disabled
  EXPECT_EQ(Focused(), ControlId::CmdConvertTGZ);
  form.FocusControl(ControlId::LblCount);  // where Enter presses nothing
  EXPECT_EQ(Focused(), ControlId::LblCount);
  EXPECT_FALSE(Key(WM_KEYDOWN, VK_RETURN));
}

TEST_F(MainWindowTest, AltXAsksTheExitQuestionAndAltHOpensHelp) {
  ui.answer = MessageAnswer::No;
  EXPECT_TRUE(Key(WM_SYSCHAR, 'x'));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, u"Are you sure you want to exit now?");
  EXPECT_EQ(host.Count("end"), 0);

  ui.answer = MessageAnswer::Yes;
  EXPECT_TRUE(Key(WM_SYSCHAR, 'X'));
  EXPECT_EQ(host.Count("end"), 1);

  EXPECT_TRUE(Key(WM_SYSCHAR, 'h'));
  EXPECT_EQ(ui.helpOwners, std::vector<WindowHandle>{form.OwnerWindow()});
  EXPECT_EQ(Focused(), ControlId::CmdHelp);

  // Letters that are no access key, and keys of unavailable buttons, do nothing.
  form.SetEnabled(ControlId::cmdEnd, false);
  EXPECT_FALSE(Key(WM_SYSCHAR, 'x'));
  EXPECT_FALSE(Key(WM_SYSCHAR, 's'));
  EXPECT_EQ(ui.messages.size(), 2u);
}

TEST_F(MainWindowTest, EnterPressesTheFocusedButton) {
  SetFocus(Control(ControlId::CmdHelp));
  EXPECT_TRUE(Key(WM_KEYDOWN, VK_RETURN));
  EXPECT_EQ(ui.helpOwners.size(), 1u);
}

TEST_F(MainWindowTest, MouseClicksOnTheRealControlsReachTheirHandlers) {
  SendMessageW(Control(ControlId::CmdHelp), BM_CLICK, 0, 0);
  SendMessageW(Control(ControlId::Label4), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  SendMessageW(Control(ControlId::Label4), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(ui.helpOwners.size(), 2u);

  form.State().DestinationFile = u"C:\\Out\\ZimbraMailbox.tgz";
  form.SetEnabled(ControlId::CmdOpen, true);
  SendMessageW(Control(ControlId::CmdOpen), BM_CLICK, 0, 0);
  EXPECT_EQ(shell.opened, std::vector<std::u16string>{u"C:\\Out\\"});

  SendMessageW(Control(ControlId::cmdEnd), BM_CLICK, 0, 0);
  EXPECT_EQ(ui.messages.size(), 1u);

  SendMessageW(Control(ControlId::Label5), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  SendMessageW(Control(ControlId::Label5), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(shell.opened.size() + ui.helpOwners.size(), 3u);
  EXPECT_EQ(host.Count("end"), 0);
}

TEST_F(MainWindowTest, ClosingTheWindowEndsWithoutAQuestion) {
  SendMessageW(window->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  SendMessageW(window->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"end", "end"}));
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(MainWindowTest, TheGuideLinkShowsThePointingHand) {
  HCURSOR hand = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(MAILSHEAF_IDC_POINTING_HAND));
  ASSERT_NE(hand, nullptr);
  auto pointerOver = [&](ControlId id) {
    SetCursor(nullptr);
    SendMessageW(Control(id), WM_SETCURSOR, reinterpret_cast<WPARAM>(Control(id)),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return GetCursor();
  };
  EXPECT_EQ(pointerOver(ControlId::Label4), hand);
  EXPECT_NE(pointerOver(ControlId::Label5), hand);
  EXPECT_NE(pointerOver(ControlId::CmdHelp), hand);

  // The hourglass shows over everything while it is set.
  const HCURSOR wait = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT));
  form.SetScreenPointer(ScreenPointer::Hourglass);
  EXPECT_EQ(pointerOver(ControlId::Label4), wait);
  EXPECT_EQ(pointerOver(ControlId::CmdHelp), wait);
  form.SetScreenPointer(ScreenPointer::Default);
  EXPECT_EQ(pointerOver(ControlId::Label4), hand);
}

TEST_F(MainWindowTest, ChangesMadeByTheHandlersShowOnScreen) {
  form.SetCaption(ControlId::LblCount, u"12 Messages && 3 Folder(s) Queued for Conversion.");
  EXPECT_EQ(TextOf(Control(ControlId::LblCount)), u"12 Messages && 3 Folder(s) Queued for Conversion.");
  form.SetCaption(ControlId::Frame1, u" Details ");
  EXPECT_EQ(TextOf(Control(ControlId::Frame1)), u" Details ");

  HWND bar = Control(ControlId::ProgressBar_tgz);
  PBRANGE range{};
  SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 100);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
  form.SetProgressValue(42.4f);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 42);

  form.SetEnabled(ControlId::CmdConvertTGZ, true);
  EXPECT_TRUE(IsWindowEnabled(Control(ControlId::CmdConvertTGZ)));
  EXPECT_EQ(form.OwnerWindow(), reinterpret_cast<WindowHandle>(window->Handle()));
}

TEST_F(MainWindowTest, AYieldProcessesPendingClicksAndKeysThroughTheWindow) {
  Win32Host realHost;
  realHost.SetPreTranslator(window.get());
  PostMessageW(Control(ControlId::CmdHelp), BM_CLICK, 0, 0);
  PostMessageW(Control(ControlId::CmdAddFolder), WM_SYSCHAR, 'x', 1 << 29);
  realHost.YieldToQueue();
  EXPECT_EQ(ui.helpOwners.size(), 1u);
  EXPECT_EQ(ui.messages.size(), 1u);
}

// The start button's paints, with its text and state at each, and the stop button's count.
struct ButtonPaints {
  std::vector<std::pair<std::u16string, bool>> start;
  int stop = 0;
};

LRESULT CALLBACK RecordPaint(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                             DWORD_PTR data) {
  if (message == WM_PAINT) {
    auto& paints = *reinterpret_cast<ButtonPaints*>(data);
    if (id == 1) {
      paints.start.emplace_back(TextOf(hwnd), IsWindowEnabled(hwnd) != FALSE);
    } else {
      ++paints.stop;
    }
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

// Preparing an archive of a slow or network folder can take a while before the writer's first
// event lets the window paint. All that time the button must read "Please Wait...": the window
// must have painted it, disabled, before the writer starts, and not yet the stop button that
// covers it once the writing shows progress.
TEST_F(MainWindowTest, PleaseWaitIsOnScreenWhileTheWriterPrepares) {
  window->Show(SW_SHOWNOACTIVATE);
  host.onYieldToQueue = [this] { Pump(); };
  Pump();
  ButtonPaints paints;
  HWND start = Control(ControlId::CmdConvertTGZ);
  ASSERT_TRUE(SetWindowSubclass(start, &RecordPaint, 1, reinterpret_cast<DWORD_PTR>(&paints)));
  ASSERT_TRUE(SetWindowSubclass(Control(ControlId::CmdStop), &RecordPaint, 2,
                                reinterpret_cast<DWORD_PTR>(&paints)));

  form.SetEnabled(ControlId::CmdConvertTGZ, true);
  ui.savedName = u"C:\\Out\\box.tgz";
  bool wrote = false, paintPending = true;
  ButtonPaints atWrite;
  std::u16string textAtWrite;
  tars.prepare = [&](testing::ScriptedTar& tar) {
    tar.onWrite = [&] {
      wrote = true;
      textAtWrite = TextOf(start);
      paintPending = GetUpdateRect(start, nullptr, FALSE) != FALSE;
      atWrite = paints;
    };
  };
  SendMessageW(start, BM_CLICK, 0, 0);
  RemoveWindowSubclass(start, &RecordPaint, 1);
  RemoveWindowSubclass(Control(ControlId::CmdStop), &RecordPaint, 2);

  ASSERT_TRUE(wrote);
  EXPECT_EQ(textAtWrite, u"Please Wait...");
  EXPECT_FALSE(paintPending);
  ASSERT_FALSE(atWrite.start.empty());
  EXPECT_EQ(atWrite.start.back(), std::make_pair(std::u16string(u"Please Wait..."), false));
  EXPECT_EQ(atWrite.stop, 0);
}

// Every text a label or button shows, at its own window's font, fits its control at every
// screen from 96 to 192 DPI: fonts do not grow in step with the twips, so a box that just held
// its text at 96 DPI can cut it at 120. The texts the form sets later count as well.
TEST_F(MainWindowTest, EveryTextFitsItsControlAtEveryDpi) {
  const std::vector<std::pair<ControlId, std::u16string>> later = {
      {ControlId::CmdConvertTGZ, u"Please Wait..."},
      {ControlId::CmdConvertTGZ, u"Conversion in Progress..."},
      {ControlId::LblTarFile, u"Reading Message Folder(s)..."},
      {ControlId::LblCount, u"2147483647 Messages && 2147483647 Folder(s) Queued for Conversion."},
      {ControlId::LblCount, u"2147483647 Messages Queued for Conversion."},
  };
  // The four common settings and two between them (112.5 % and 175 %), on a 1280 by 1024 work
  // area, where the window as designed is too wide at 192 DPI; and 150 % on 1024 by 768.
  const RECT large{0, 0, 1280, 1024};
  for (auto [screenDpi, work] : {std::pair{96, large}, {108, large}, {120, large}, {144, large},
                                 {168, large}, {192, large}, {144, RECT{0, 0, 1024, 768}}}) {
    window.reset();
    window = Build(screenDpi, work);
    ASSERT_TRUE(window);
    const int dpi = window->LayoutDpi();
    RECT outer, onWork;
    GetWindowRect(window->Handle(), &outer);
    IntersectRect(&onWork, &outer, &work);
    EXPECT_TRUE(EqualRect(&onWork, &outer)) << screenDpi << " DPI: off the work area";
    HDC dc = GetDC(window->Handle());
    auto check = [&](ControlId id, const std::u16string& text) {
      SCOPED_TRACE(::testing::Message() << dpi << " DPI, " << Name(id) << ": "
                                        << std::string(text.begin(), text.end()));
      HWND hwnd = Control(id);
      ASSERT_NE(hwnd, nullptr);
      RECT client;
      GetClientRect(hwnd, &client);
      const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
      const bool button = DesignOf(id).kind == ControlKind::Button;
      if (button) {
        // The button's edge and the focus rectangle inside it.
        InflateRect(&client, -2 * GetSystemMetrics(SM_CXEDGE) - 1,
                    -2 * GetSystemMetrics(SM_CYEDGE) - 1);
      }
      HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
      UINT format = DT_CALCRECT | DT_LEFT;
      if (!button && (style & SS_NOPREFIX)) format |= DT_NOPREFIX;
      const bool wraps = !button && (style & SS_TYPEMASK) == SS_LEFT;
      format |= wraps ? DT_WORDBREAK : DT_SINGLELINE;
      RECT needed{0, 0, wraps ? client.right - client.left : 0, 0};
      std::u16string copy = text;
      DrawTextW(dc, WideBuffer(copy), -1, &needed, format);
      if (!wraps) {
        SIZE extent{};
        std::u16string shown;  // as drawn: "&&" is one "&", a single "&" marks the access key
        for (std::size_t i = 0; i < text.size(); ++i) {
          if (text[i] == u'&' && !(format & DT_NOPREFIX) && ++i == text.size()) break;
          shown.push_back(text[i]);
        }
        GetTextExtentPoint32W(dc, WidePointer(shown), static_cast<int>(shown.size()), &extent);
        needed.right = std::max<LONG>(needed.right, extent.cx);
        needed.bottom = std::max<LONG>(needed.bottom, extent.cy);
      }
      SelectObject(dc, old);
      // A one-line label exactly as wide as its text shows it without its last glyph.
      EXPECT_LT(needed.right - (button || wraps), client.right - client.left) << "width";
      EXPECT_LE(needed.bottom, client.bottom - client.top) << "height";
    };
    for (const ControlDesign& row : ControlTable()) {
      if (row.kind == ControlKind::Label || row.kind == ControlKind::Button) {
        check(row.id, TextOf(Control(row.id)));
      }
    }
    for (const auto& [id, text] : later) check(id, text);
    ReleaseDC(window->Handle(), dc);

    // Grown controls stay inside their container and off the controls they were clear of.
    auto placeOf = [&](ControlId id) {
      RECT r;
      GetWindowRect(Control(id), &r);
      MapWindowPoints(nullptr, GetParent(Control(id)), reinterpret_cast<POINT*>(&r), 2);
      return r;
    };
    EXPECT_LE(placeOf(ControlId::CmdOpen).right, placeOf(ControlId::Frame1).right) << dpi;
    for (const ControlDesign& a : ControlTable()) {
      if (!Control(a.id)) continue;
      SCOPED_TRACE(::testing::Message() << dpi << " DPI, " << Name(a.id));
      const RECT at = placeOf(a.id);
      RECT inside;
      GetClientRect(GetParent(Control(a.id)), &inside);
      const PixelRect designed = ToPixels(a.position, dpi, dpi);
      if (designed.left + designed.width <= inside.right) {
        EXPECT_LE(at.right, inside.right);
      }
      if (designed.top + designed.height <= inside.bottom) {
        EXPECT_LE(at.bottom, inside.bottom);
      }
      for (const ControlDesign& b : ControlTable()) {
        if (IndexOf(b.id) <= IndexOf(a.id) || !Control(b.id) || b.container != a.container) {
          continue;
        }
        const PixelRect other = ToPixels(b.position, dpi, dpi);
        const RECT d1{designed.left, designed.top, designed.left + designed.width,
                      designed.top + designed.height};
        const RECT d2{other.left, other.top, other.left + other.width, other.top + other.height};
        RECT overlap;
        if (IntersectRect(&overlap, &d1, &d2)) continue;
        const RECT now = placeOf(b.id);
        EXPECT_FALSE(IntersectRect(&overlap, &at, &now)) << "overlaps " << Name(b.id);
      }
    }
  }
}

// The two pictures fill their boxes, which grow with the screen's DPI: four times the pixels.
TEST_F(MainWindowTest, ThePicturesGrowWithTheScreen) {
  std::vector<std::ptrdiff_t> inked;  // Image1 and Image2 at 96 DPI, then at 192
  for (int dpi : {96, 192}) {
    window = Build(dpi, {0, 0, 4000, 4000});
    for (ControlId image : {ControlId::Image1, ControlId::Image2}) {
      const std::vector<COLORREF> p = Painted(image);
      inked.push_back(std::count_if(p.begin(), p.end(), [&](COLORREF c) { return c != p[0]; }));
    }
  }
  EXPECT_GT(inked[0], 40);
  EXPECT_NEAR(inked[2], 4 * inked[0], inked[0] / 4);
  EXPECT_NEAR(inked[3], 4 * inked[1], inked[1] / 4);
}

// A path too long for its label loses characters from its middle, never its start nor its own
// name; the label's text stays the whole path, and its tooltip shows it.
TEST_F(MainWindowTest, ALongPathLosesItsMiddleAndShowsWholeInATooltip) {
  const std::u16string start = u"C:\\Mail\\" + std::u16string(300, u'a');
  const std::u16string path = start + u"x\\message.eml";
  for (ControlId label : {ControlId::LblSource, ControlId::LblTarFile, ControlId::LblDestination}) {
    form.SetCaption(label, path);
    const HWND at = Control(label);
    std::u16string tip(1024, u'\0');
    TTTOOLINFOW tool{TTTOOLINFOW_V2_SIZE, 0, window->Handle(),
                     reinterpret_cast<UINT_PTR>(at), {}, nullptr, WideBuffer(tip), 0, {}};
    SendMessageW(window->PathTips(), TTM_GETTEXTW, tip.size(), reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(tip.c_str() + TextOf(at), path + path) << Name(label);
    const std::vector<COLORREF> shown = Painted(label);
    // The path changed in the middle, in its name, at its start.
    for (auto [other, alike] : {std::pair{start + u"y\\message.eml", true},
                                {start + u"x\\massage.eml", false},
                                {u"D" + path.substr(1), false}}) {
      form.SetCaption(label, other);
      EXPECT_EQ(Painted(label) == shown, alike) << Name(label) << " " << alike;
    }
  }
}

// The help ships in the program: a window of its own, above the main one, resizable.
TEST_F(MainWindowTest, TheHelpShowsInAResizableWindowOfItsOwn) {
  Win32Ui real;
  real.ShowHelp(form.OwnerWindow());
  HWND help = FindWindowW(L"MailsheafHelp", nullptr);
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(GetWindow(help, GW_OWNER), window->Handle());
  EXPECT_TRUE(GetWindowLongW(help, GWL_STYLE) & WS_THICKFRAME);
  HWND text = GetWindow(help, GW_CHILD);
  EXPECT_TRUE(GetWindowLongW(text, GWL_STYLE) & ES_READONLY);
  // The README's sections, a paragraph to a line, without Markdown's marks.
  const std::u16string shown = TextOf(text);
  EXPECT_EQ(shown.find(u"Using it\r\n\r\n1. Click Select folder having (*.eml) file(s)... and "
                       u"choose the top folder of your messages in the folder browser."), 0u);
  for (const char16_t* title : {u"Or straight", u"Bringing the archive into Zimbra", u"The report"})
    EXPECT_NE(shown.find(u"\r\n\r\n" + std::u16string(title)), shown.npos);
  EXPECT_EQ(shown.find_first_of(u"`#"), shown.npos);
  DestroyWindow(help);
}

TEST_F(MainWindowTest, LargerScreenScalesPlacesAndFonts) {
  window.reset();
  window = Build(120);
  ASSERT_TRUE(window);
  // Only the width: Wine keeps a window's height within the screen, which may be small here.
  RECT client;
  GetClientRect(window->Handle(), &client);
  EXPECT_EQ(client.right, 881);

  RECT r;
  GetWindowRect(Control(ControlId::CmdAddFolder), &r);
  MapWindowPoints(nullptr, window->Handle(), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 20);
  EXPECT_EQ(r.top, 180);
  EXPECT_GE(r.right - r.left, 311);  // wider where its text needs it
  EXPECT_EQ(r.bottom - r.top, 38);

  LOGFONTW lf{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control(ControlId::lblTitle), WM_GETFONT, 0, 0)),
             sizeof(lf), &lf);
  EXPECT_EQ(lf.lfHeight, -24);
}

}  // namespace
}  // namespace mailsheaf
