#include "app/win32/main_window.h"

#include <algorithm>
#include <cmath>

#include "app/keyboard.h"
#include "app/twips.h"

namespace mailsheaf {
namespace {

constexpr wchar_t kWindowClass[] = L"MailsheafMainWindow";
constexpr wchar_t kContainerClass[] = L"MailsheafContainer";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                               WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_APPWINDOW;
// Room left beside a one-line label's text: three pixels at 96 DPI.
constexpr int kLabelMarginTwips = 45;

const wchar_t* Wide(std::u16string_view text, std::u16string& storage) {
  storage.assign(text);
  return WidePointer(storage);
}

COLORREF ColorRefOf(const Colour& colour) {
  switch (colour.source) {
    case Colour::Source::ButtonFace: return GetSysColor(COLOR_BTNFACE);
    case Colour::Source::ButtonText: return GetSysColor(COLOR_BTNTEXT);
    case Colour::Source::Fixed: break;
  }
  return RGB(colour.rgb.red, colour.rgb.green, colour.rgb.blue);
}

bool RegisterClasses(HINSTANCE instance, WNDPROC windowProc, WNDPROC containerProc,
                     HICON bigIcon, HICON smallIcon) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (!GetClassInfoExW(instance, kWindowClass, &existing)) {
    WNDCLASSEXW window{};
    window.cbSize = sizeof(window);
    window.lpfnWndProc = windowProc;
    window.hInstance = instance;
    window.hIcon = bigIcon;
    window.hIconSm = smallIcon;
    window.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&window)) return false;
  }
  if (!GetClassInfoExW(instance, kContainerClass, &existing)) {
    WNDCLASSEXW container{};
    container.cbSize = sizeof(container);
    container.lpfnWndProc = containerProc;
    container.hInstance = instance;
    container.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    container.lpszClassName = kContainerClass;
    if (!RegisterClassExW(&container)) return false;
  }
  return true;
}

int ScreenDpi(int index) {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, index) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

bool KeyDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

// The size of a text on one line as drawn: with "&" taken as the access-key prefix ("&&" shows
// one) unless `literal`, and trailing spaces counted.
PixelSize OneLineExtent(HDC dc, std::u16string_view text, bool literal) {
  std::u16string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!literal && text[i] == u'&' && ++i == text.size()) break;
    shown.push_back(text[i]);
  }
  SIZE extent{};
  GetTextExtentPoint32W(dc, WidePointer(shown), static_cast<int>(shown.size()), &extent);
  return {static_cast<int>(extent.cx), static_cast<int>(extent.cy)};
}

// The height of a text broken into lines within `width`.
int WrappedHeight(HDC dc, std::u16string_view text, bool literal, int width) {
  std::u16string copy(text);
  RECT box{0, 0, width, 0};
  DrawTextW(dc, WidePointer(copy), -1, &box,
            DT_CALCRECT | DT_WORDBREAK | DT_LEFT | (literal ? DT_NOPREFIX : 0));
  return box.bottom - box.top;
}

}  // namespace

MainWindow::MainWindow(FrmStep1& form, const MainWindowOptions& options)
    : form_(form), options_(options) {
  dpi_x_ = options.dpiX > 0 ? options.dpiX : ScreenDpi(LOGPIXELSX);
  dpi_y_ = options.dpiY > 0 ? options.dpiY : ScreenDpi(LOGPIXELSY);
}

std::unique_ptr<MainWindow> MainWindow::Create(FrmStep1& form, const MainWindowOptions& options) {
  std::unique_ptr<MainWindow> window(new MainWindow(form, options));
  if (!window->Build()) return nullptr;
  form.AttachView(*window);
  return window;
}

MainWindow::~MainWindow() {
  form_.DetachView();
  if (window_) DestroyWindow(window_);
  for (auto& [key, font] : fonts_) DeleteObject(font);
  for (auto& [colour, brush] : brushes_) DeleteObject(brush);
  for (HICON icon : images_) {
    if (icon) DestroyIcon(icon);
  }
}

bool MainWindow::Build() {
  const WindowDesign& design = FrmStep1Design();
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HINSTANCE resources = options_.resources ? options_.resources : instance;

  auto loadIcon = [&](int size) {
    return static_cast<HICON>(LoadImageW(resources, MAKEINTRESOURCEW(design.iconResource),
                                         IMAGE_ICON, size, size, LR_SHARED));
  };
  if (!RegisterClasses(instance, &WindowProc, &ContainerProc, loadIcon(GetSystemMetrics(SM_CXICON)),
                       loadIcon(GetSystemMetrics(SM_CXSMICON)))) {
    return false;
  }
  pointing_hand_ = static_cast<HCURSOR>(
      LoadImageW(resources, MAKEINTRESOURCEW(design.pointingHandCursorResource), IMAGE_CURSOR, 0,
                 0, LR_DEFAULTSIZE | LR_SHARED));

  const RECT work = WorkArea();
  const int screenDpiX = dpi_x_;
  const int screenDpiY = dpi_y_;
  const int dpi = DpiThatFits(
      screenDpiY, {work.right - work.left, work.bottom - work.top},
      [&](int dpiY) { return LayOut(MulDiv(screenDpiX, dpiY, screenDpiY), dpiY); });
  const PixelSize outer = LayOut(MulDiv(screenDpiX, dpi, screenDpiY), dpi);
  const int width = outer.width;
  const int height = outer.height;
  // Centred on the screen, but never past the edges of its work area, where the window could
  // not be reached.
  const int left = std::max<int>(
      work.left, std::min<int>((GetSystemMetrics(SM_CXSCREEN) - width) / 2, work.right - width));
  const int top = std::max<int>(
      work.top, std::min<int>((GetSystemMetrics(SM_CYSCREEN) - height) / 2, work.bottom - height));

  std::u16string title;
  window_ = CreateWindowExW(kWindowExStyle, kWindowClass, Wide(design.title, title), kWindowStyle,
                            left, top, width, height, nullptr, nullptr, instance, this);
  if (!window_) return false;

  for (const ControlDesign& row : ControlTable()) {
    if (!CreateControl(row)) return false;
  }
  AddPathTips();
  return true;
}

PixelSize MainWindow::LayOut(int dpiX, int dpiY) {
  if (dpiX != dpi_x_ || dpiY != dpi_y_) {
    for (auto& [key, font] : fonts_) DeleteObject(font);
    fonts_.clear();
    dpi_x_ = dpiX;
    dpi_y_ = dpiY;
  }
  const WindowLayout designed = DesignLayout(dpi_x_, dpi_y_);
  layout_ = FitToTexts(designed, MeasureTexts(designed));
  RECT outer{0, 0, layout_.client.width, layout_.client.height};
  AdjustWindowRectEx(&outer, kWindowStyle, FALSE, kWindowExStyle);
  return {outer.right - outer.left, outer.bottom - outer.top};
}

RECT MainWindow::WorkArea() const {
  if (!IsRectEmpty(&options_.workArea)) return options_.workArea;
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return work;
}

void MainWindow::AddPathTips() {
  path_tips_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  if (!path_tips_) return;
  for (const ControlDesign& row : ControlTable()) {
    if (!row.shortensPath) continue;
    std::u16string text(row.text);
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(ControlWindow(row.id));
    tool.lpszText = WideBuffer(text);
    SendMessageW(path_tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

std::array<PixelSize, kControlCount> MainWindow::MeasureTexts(const WindowLayout& design) {
  std::array<PixelSize, kControlCount> needed{};
  HDC dc = GetDC(nullptr);
  if (!dc) return needed;
  // A button draws its text inside its edge and the focus rectangle.
  const int buttonPadX = 2 * (2 * GetSystemMetrics(SM_CXEDGE) + 2);
  const int buttonPadY = 2 * (2 * GetSystemMetrics(SM_CYEDGE) + 1);
  // Wine's static control drops the last glyph of a line exactly as wide as the control.
  const int labelPadX = TwipsToPixels(kLabelMarginTwips, dpi_x_);
  for (const ControlDesign& row : ControlTable()) {
    const bool button = row.kind == ControlKind::Button;
    if ((!button && row.kind != ControlKind::Label) || row.font.face.empty()) continue;
    const std::size_t index = static_cast<std::size_t>(IndexOf(row.id));
    const int width = design.at[index].width;
    const bool literal = !button && row.literalText;
    HGDIOBJ oldFont = SelectObject(dc, FontFor(row.font));
    PixelSize& need = needed[index];
    for (std::u16string_view text : {row.text, row.alsoShows}) {
      if (text.empty()) continue;
      const PixelSize line = OneLineExtent(dc, text, literal);
      if (button) {
        need.width = std::max(need.width, line.width + buttonPadX);
        need.height = std::max(need.height, line.height + buttonPadY);
      } else if (row.wraps) {
        // Never wider than designed, since it breaks its lines; it can spare what one line of
        // its text leaves free.
        need.width = std::max(need.width, std::min(line.width, width));
        need.height = std::max(need.height, WrappedHeight(dc, text, literal, width));
      } else {
        need.width = std::max(need.width, line.width + labelPadX);
        need.height = std::max(need.height, line.height);
      }
    }
    SelectObject(dc, oldFont);
  }
  ReleaseDC(nullptr, dc);
  return needed;
}

HWND MainWindow::ParentOf(const ControlDesign& row) const {
  const std::optional<ControlId> holder = ControlOf(row.container);
  return holder ? controls_[IndexOf(*holder)] : window_;
}

bool MainWindow::CreateControl(const ControlDesign& row) {
  const std::size_t index = static_cast<std::size_t>(IndexOf(row.id));
  if (row.kind == ControlKind::Rectangle) return true;  // drawn by its container

  const PixelRect at = layout_.at[index];
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  if (row.visible) style |= WS_VISIBLE;
  if (!row.enabled) style |= WS_DISABLED;
  DWORD exStyle = 0;
  const wchar_t* className = L"STATIC";
  switch (row.kind) {
    case ControlKind::Label:
      // Every label reports clicks; those without a handler are ignored by the form.
      style |= (row.wraps ? SS_LEFT | SS_EDITCONTROL : SS_LEFTNOWORDWRAP) | SS_NOTIFY;
      if (row.literalText) style |= SS_NOPREFIX;
      if (row.shortensPath) style |= SS_PATHELLIPSIS;
      break;
    case ControlKind::Image:
      style |= SS_OWNERDRAW | SS_NOTIFY;
      break;
    case ControlKind::Button:
      className = L"BUTTON";
      style |= BS_PUSHBUTTON | BS_MULTILINE;
      if (row.tabIndex >= 0) style |= WS_TABSTOP;
      break;
    case ControlKind::Frame:
      // Not WS_CLIPCHILDREN: the captioned border inside covers the whole frame and paints only
      // its lines, so the frame's own surface must be painted under it.
      className = kContainerClass;
      exStyle |= WS_EX_CONTROLPARENT;
      break;
    case ControlKind::Panel:
      className = kContainerClass;
      style |= WS_CLIPCHILDREN;
      exStyle |= WS_EX_CONTROLPARENT;
      break;
    case ControlKind::ProgressBar:
      className = PROGRESS_CLASSW;
      break;
    case ControlKind::Rectangle:
      break;
  }

  std::u16string text;
  HWND control = CreateWindowExW(
      exStyle, className, Wide(row.text, text), style, at.left, at.top, at.width, at.height,
      ParentOf(row), reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlWindowId(row.id))),
      GetModuleHandleW(nullptr), this);
  if (!control) return false;
  controls_[index] = control;
  // A later row lies above the earlier ones.
  SetWindowPos(control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  if (row.kind == ControlKind::Frame) {
    frame_border_ = CreateWindowExW(0, L"BUTTON", Wide(row.text, text),
                                    WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_GROUPBOX, 0, 0,
                                    at.width, at.height, control, nullptr,
                                    GetModuleHandleW(nullptr), nullptr);
    if (!frame_border_) return false;
  }
  if (row.kind == ControlKind::ProgressBar) {
    SendMessageW(control, PBM_SETRANGE32, 0, 100);
    SendMessageW(control, PBM_SETPOS, 0, 0);
  }
  if (row.kind == ControlKind::Image && row.imageResource != 0) {
    HINSTANCE resources = options_.resources ? options_.resources : GetModuleHandleW(nullptr);
    images_[index] = static_cast<HICON>(LoadImageW(
        resources, MAKEINTRESOURCEW(row.imageResource), IMAGE_ICON, at.width, at.height, 0));
  }
  if (!row.font.face.empty()) {
    HFONT font = FontFor(row.font);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (row.kind == ControlKind::Frame) {
      SendMessageW(frame_border_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
  }
  return true;
}

HFONT MainWindow::FontFor(const FontDesign& font) {
  const FontKey key{font.face, font.centipoints, font.bold, font.charset};
  if (auto found = fonts_.find(key); found != fonts_.end()) return found->second;
  std::u16string face;
  HFONT created = CreateFontW(-FontPixelHeight(font.centipoints, dpi_y_), 0, 0, 0,
                              font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                              static_cast<DWORD>(font.charset), OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                              Wide(font.face, face));
  fonts_.emplace(key, created);
  return created;
}

HBRUSH MainWindow::BrushFor(const Colour& colour) {
  if (colour.source == Colour::Source::ButtonFace) return GetSysColorBrush(COLOR_BTNFACE);
  const COLORREF value = ColorRefOf(colour);
  if (auto found = brushes_.find(value); found != brushes_.end()) return found->second;
  HBRUSH created = CreateSolidBrush(value);
  brushes_.emplace(value, created);
  return created;
}

Colour MainWindow::BackOfContainer(Container container) const {
  const std::optional<ControlId> holder = ControlOf(container);
  return holder ? DesignOf(*holder).back : kButtonFace;
}

HWND MainWindow::ControlWindow(ControlId id) const {
  return controls_[static_cast<std::size_t>(IndexOf(id))];
}

std::optional<ControlId> MainWindow::ControlOfWindow(HWND hwnd) const {
  if (!hwnd) return std::nullopt;
  if (hwnd == frame_border_) return ControlId::Frame1;
  for (int i = 0; i < kControlCount; ++i) {
    if (controls_[static_cast<std::size_t>(i)] == hwnd) return static_cast<ControlId>(i);
  }
  return std::nullopt;
}

void MainWindow::Show(int showCommand) {
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
  MoveFocus(std::nullopt, true);
}

// --- the view -------------------------------------------------------------------------------

void MainWindow::SetText(ControlId control, const std::u16string& text) {
  HWND hwnd = ControlWindow(control);
  if (!hwnd) return;
  SetWindowTextW(hwnd, WidePointer(text));
  if (control == ControlId::Frame1 && frame_border_) {
    SetWindowTextW(frame_border_, WidePointer(text));
  }
  if (DesignOf(control).shortensPath && path_tips_) {
    std::u16string tip = text;
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(hwnd);
    tool.lpszText = WideBuffer(tip);
    SendMessageW(path_tips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void MainWindow::SetEnabled(ControlId control, bool enabled) {
  HWND hwnd = ControlWindow(control);
  if (!hwnd) return;
  const bool hadFocus = CurrentFocus() == hwnd;
  EnableWindow(hwnd, enabled ? TRUE : FALSE);
  if (hadFocus && !enabled) ParkFocus(control);
  if (enabled) ReturnParkedFocus(control);
}

void MainWindow::SetVisible(ControlId control, bool visible) {
  HWND hwnd = ControlWindow(control);
  if (!hwnd) return;
  const bool hadFocus = CurrentFocus() == hwnd;
  ShowWindow(hwnd, visible ? SW_SHOWNA : SW_HIDE);
  if (hadFocus && !visible) ParkFocus(control);
  if (visible) ReturnParkedFocus(control);
}

void MainWindow::FocusControl(ControlId control) {
  if (!IsAvailable(control)) return;
  // A deliberate choice: no parked focus comes back over it.
  parked_from_.reset();
  parked_at_ = nullptr;
  PlaceFocus(ControlWindow(control));
}

void MainWindow::PaintNow() {
  RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void MainWindow::SetProgressRange(float minimum, float maximum) {
  SendMessageW(ControlWindow(ControlId::ProgressBar_tgz), PBM_SETRANGE32,
               static_cast<WPARAM>(std::lround(minimum)),
               static_cast<LPARAM>(std::lround(maximum)));
}

void MainWindow::SetProgressValue(float value) {
  SendMessageW(ControlWindow(ControlId::ProgressBar_tgz), PBM_SETPOS,
               static_cast<WPARAM>(std::lround(value)), 0);
}

void MainWindow::SetScreenPointer(ScreenPointer pointer) {
  screen_pointer_ = pointer;
  SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(
                                     pointer == ScreenPointer::Hourglass ? IDC_WAIT : IDC_ARROW)));
}

void MainWindow::HideWindow() { ShowWindow(window_, SW_HIDE); }

WindowHandle MainWindow::OwnerWindow() const { return reinterpret_cast<WindowHandle>(window_); }

// --- keyboard -------------------------------------------------------------------------------

bool MainWindow::IsAvailable(ControlId id) const {
  HWND hwnd = ControlWindow(id);
  if (!hwnd || !IsWindowEnabled(hwnd)) return false;
  // The control's own visibility and its container's, whether or not the window is shown yet.
  for (HWND at = hwnd; at && at != window_; at = GetParent(at)) {
    if (!(GetWindowLongW(at, GWL_STYLE) & WS_VISIBLE)) return false;
  }
  return true;
}

void MainWindow::MoveFocus(std::optional<ControlId> from, bool forward) {
  const auto next = NextTabStop(from, forward, [this](ControlId id) { return IsAvailable(id); });
  if (next) SetFocus(ControlWindow(*next));
}

HWND MainWindow::CurrentFocus() const {
  return GetActiveWindow() == window_ ? GetFocus() : focus_when_inactive_;
}

void MainWindow::PlaceFocus(HWND control) {
  // While a message box or dialog is active, setting the focus would take it from that box;
  // the window gives it to the control when it is active again.
  if (GetActiveWindow() == window_) {
    SetFocus(control);
  } else {
    focus_when_inactive_ = control;
  }
}

void MainWindow::ParkFocus(ControlId control) {
  const auto next = NextTabStop(control, true, [this](ControlId id) { return IsAvailable(id); });
  parked_from_ = control;
  parked_at_ = next ? ControlWindow(*next) : window_;
  PlaceFocus(parked_at_);
}

void MainWindow::ReturnParkedFocus(ControlId control) {
  if (parked_from_ != control || !IsAvailable(control)) return;
  const HWND parkedAt = parked_at_;
  parked_from_.reset();
  parked_at_ = nullptr;
  if (CurrentFocus() == parkedAt) PlaceFocus(ControlWindow(control));
}

void MainWindow::ClickFromKeyboard(ControlId id) {
  SetFocus(ControlWindow(id));
  form_.Click(id);
}

bool MainWindow::PreTranslate(MSG& msg) {
  if (!window_ || (msg.hwnd != window_ && !IsChild(window_, msg.hwnd))) return false;
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB && !KeyDown(VK_CONTROL) &&
      !KeyDown(VK_MENU)) {
    std::optional<ControlId> from = ControlOfWindow(GetFocus());
    MoveFocus(from, !KeyDown(VK_SHIFT));
    return true;
  }
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) {
    const std::optional<ControlId> focused = ControlOfWindow(GetFocus());
    if (focused && DesignOf(*focused).kind == ControlKind::Button && IsAvailable(*focused)) {
      form_.Click(*focused);
      return true;
    }
    return false;
  }
  if (msg.message == WM_SYSCHAR) {
    auto captionOf = [this](ControlId id) {
      HWND hwnd = ControlWindow(id);
      const int length = hwnd ? GetWindowTextLengthW(hwnd) : 0;
      std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
      if (length > 0) {
        GetWindowTextW(hwnd, WideBuffer(text), length + 1);
      }
      text.resize(static_cast<std::size_t>(length));
      return text;
    };
    const auto target = ControlForAccessKey(static_cast<char16_t>(msg.wParam), captionOf,
                                            [this](ControlId id) { return IsAvailable(id); });
    if (!target) return false;
    ClickFromKeyboard(*target);
    return true;
  }
  return false;
}

void MainWindow::OnActivate(bool active) {
  if (!active) {
    HWND focus = GetFocus();
    if (focus && IsChild(window_, focus)) focus_when_inactive_ = focus;
    return;
  }
  HWND kept = focus_when_inactive_;
  if (kept && IsWindow(kept) && IsWindowEnabled(kept) && IsWindowVisible(kept)) {
    SetFocus(kept);
  } else {
    MoveFocus(std::nullopt, true);
  }
}

// --- drawing --------------------------------------------------------------------------------

void MainWindow::PaintSurface(HWND surface, HDC dc, Container container) {
  RECT client;
  GetClientRect(surface, &client);
  FillRect(dc, &client, BrushFor(container == Container::Window ? kButtonFace
                                                                 : BackOfContainer(container)));
  for (const ControlDesign& row : ControlTable()) {
    if (row.kind != ControlKind::Rectangle || row.container != container) continue;
    const PixelRect at = layout_.at[static_cast<std::size_t>(IndexOf(row.id))];
    HPEN pen = CreatePen(PS_SOLID, 1, ColorRefOf(row.border));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, BrushFor(row.back));
    Rectangle(dc, at.left, at.top, at.left + at.width, at.top + at.height);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
  }
}

LRESULT MainWindow::ColourStatic(HDC dc, HWND control) {
  const std::optional<ControlId> id = ControlOfWindow(control);
  if (!id) return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  const ControlDesign& row = DesignOf(*id);
  SetTextColor(dc, ColorRefOf(row.fore));
  SetBkColor(dc, ColorRefOf(row.back));
  return reinterpret_cast<LRESULT>(BrushFor(row.back));
}

void MainWindow::DrawImage(const DRAWITEMSTRUCT& item) {
  const std::optional<ControlId> id = ControlOfWindow(item.hwndItem);
  if (!id) return;
  FillRect(item.hDC, &item.rcItem, BrushFor(DesignOf(*id).back));
  if (HICON icon = images_[static_cast<std::size_t>(IndexOf(*id))]) {
    // The picture fills its box, which grows with the screen's DPI as every other control.
    DrawIconEx(item.hDC, item.rcItem.left, item.rcItem.top, icon,
               item.rcItem.right - item.rcItem.left, item.rcItem.bottom - item.rcItem.top, 0,
               nullptr, DI_NORMAL);
  }
}

bool MainWindow::SetPointer(HWND under) {
  if (screen_pointer_ == ScreenPointer::Hourglass) {
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    return true;
  }
  const std::optional<ControlId> id = ControlOfWindow(under);
  if (id && DesignOf(*id).pointingHand) {
    SetCursor(pointing_hand_ ? pointing_hand_
                             : LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
    return true;
  }
  return false;
}

// --- window procedures ----------------------------------------------------------------------

namespace {

// Both procedures bind the window to its object when Windows first announces it; the object
// travels in the creation parameter.
MainWindow* BindAtCreation(HWND hwnd, UINT message, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    return self;
  }
  return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

}  // namespace

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  MainWindow* self = BindAtCreation(hwnd, message, lParam);
  if (self && !self->window_) self->window_ = hwnd;
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  try {
    return self->HandleWindowMessage(message, wParam, lParam);
  } catch (...) {
    // A handler's failure must not unwind into Windows.
    return 0;
  }
}

LRESULT CALLBACK MainWindow::ContainerProc(HWND hwnd, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  MainWindow* self = BindAtCreation(hwnd, message, lParam);
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  try {
    return self->HandleContainerMessage(hwnd, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

std::optional<LRESULT> MainWindow::HandleChildNotification(UINT message, WPARAM wParam,
                                                           LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const auto id = ControlOfWindow(reinterpret_cast<HWND>(lParam));
      // BN_CLICKED and STN_CLICKED share the code 0.
      if (id && HIWORD(wParam) == BN_CLICKED) form_.Click(*id);
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      return ColourStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_CTLCOLORBTN: {
      const auto id = ControlOfWindow(reinterpret_cast<HWND>(lParam));
      const Colour back = id ? BackOfContainer(DesignOf(*id).container) : kButtonFace;
      return reinterpret_cast<LRESULT>(BrushFor(back));
    }
    case WM_DRAWITEM:
      DrawImage(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    default:
      return std::nullopt;
  }
}

LRESULT MainWindow::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (auto handled = HandleChildNotification(message, wParam, lParam)) return *handled;
  switch (message) {
    case WM_ERASEBKGND:
      return TRUE;  // WM_PAINT fills the whole surface
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window_, &paint);
      PaintSurface(window_, dc, Container::Window);
      EndPaint(window_, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintSurface(window_, reinterpret_cast<HDC>(wParam), Container::Window);
      return 0;
    case WM_SETCURSOR:
      if (SetPointer(reinterpret_cast<HWND>(wParam))) return TRUE;
      break;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wParam) != WA_INACTIVE);
      return 0;
    case WM_CLOSE:
      form_.Form_Unload();
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      window_ = nullptr;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT MainWindow::HandleContainerMessage(HWND container, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  if (auto handled = HandleChildNotification(message, wParam, lParam)) return *handled;
  const std::optional<ControlId> id = ControlOfWindow(container);
  const Container surface = id == ControlId::Frame1 ? Container::Frame1 : Container::Picture3;
  switch (message) {
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(container, &paint);
      PaintSurface(container, dc, surface);
      EndPaint(container, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintSurface(container, reinterpret_cast<HDC>(wParam), surface);
      return 0;
    case WM_SETFONT:
      SetPropW(container, L"MailsheafFont", reinterpret_cast<HANDLE>(wParam));
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(GetPropW(container, L"MailsheafFont"));
    case WM_NCDESTROY:
      RemovePropW(container, L"MailsheafFont");
      SetWindowLongPtrW(container, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(container, message, wParam, lParam);
}

}  // namespace mailsheaf
