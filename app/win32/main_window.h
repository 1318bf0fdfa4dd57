#pragma once
// The real frmStep1 on screen: a Win32 window built from the control table and bound to the
// portable FrmStep1, whose handlers it calls and whose control changes it shows.

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <tuple>

#include "app/control_table.h"
#include "app/fit_layout.h"
#include "app/frm_step1.h"
#include "app/win32/message_pump.h"
#include "app/win32/windows_api.h"

namespace mailsheaf {

struct MainWindowOptions {
  HINSTANCE resources = nullptr;  // the module holding the icons and the cursor
  int dpiX = 0;                   // 0: the screen's
  int dpiY = 0;
  RECT workArea{};                // empty: the screen's work area
};

// Control window identifiers: the control's row in the table plus this.
inline constexpr int kFirstControlWindowId = 1000;
constexpr int ControlWindowId(ControlId id) { return kFirstControlWindowId + IndexOf(id); }

class MainWindow final : public FrmStep1View, public MessagePreTranslator {
 public:
  // Builds the window, hidden and centred on the screen within its work area (laid out at fewer
  // dots per inch where it would not fit there), with every control in its design state, and
  // attaches it to `form`. Nothing when Windows refuses to create it.
  static std::unique_ptr<MainWindow> Create(FrmStep1& form, const MainWindowOptions& options);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Shows the window and gives the focus to the first available button in keyboard order.
  void Show(int showCommand);

  HWND Handle() const { return window_; }
  // The dots per inch the window is laid out at: the screen's, or fewer where the window would
  // not fit its work area at those.
  int LayoutDpi() const { return dpi_y_; }
  // The tooltips of the labels that shorten paths.
  HWND PathTips() const { return path_tips_; }
  // Null for the rectangles, which are drawn on their container rather than being windows.
  HWND ControlWindow(ControlId id) const;

  void SetText(ControlId control, const std::u16string& text) override;
  void SetEnabled(ControlId control, bool enabled) override;
  void SetVisible(ControlId control, bool visible) override;
  void SetProgressRange(float minimum, float maximum) override;
  void SetProgressValue(float value) override;
  void SetScreenPointer(ScreenPointer pointer) override;
  void HideWindow() override;
  void FocusControl(ControlId control) override;
  void PaintNow() override;
  WindowHandle OwnerWindow() const override;

  // Keyboard order (Tab, Shift+Tab), access keys (Alt+letter) and Enter on a focused button.
  bool PreTranslate(MSG& msg) override;

 private:
  using FontKey = std::tuple<std::u16string_view, int, bool, int>;

  MainWindow(FrmStep1& form, const MainWindowOptions& options);
  bool Build();
  // Lays the window out at the given dots per inch; its outer size.
  PixelSize LayOut(int dpiX, int dpiY);
  RECT WorkArea() const;
  // The tooltips that show the whole of a path its label shortens.
  void AddPathTips();
  // What each label's and button's texts need at its font, on this screen.
  std::array<PixelSize, kControlCount> MeasureTexts(const WindowLayout& design);
  bool CreateControl(const ControlDesign& row);
  HWND ParentOf(const ControlDesign& row) const;
  HFONT FontFor(const FontDesign& font);
  HBRUSH BrushFor(const Colour& colour);
  Colour BackOfContainer(Container container) const;

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleContainerMessage(HWND container, UINT message, WPARAM wParam, LPARAM lParam);
  // Messages that the window and both containers answer alike; nothing when not one of them.
  std::optional<LRESULT> HandleChildNotification(UINT message, WPARAM wParam, LPARAM lParam);

  void PaintSurface(HWND surface, HDC dc, Container container);
  LRESULT ColourStatic(HDC dc, HWND control);
  void DrawImage(const DRAWITEMSTRUCT& item);
  bool SetPointer(HWND under);
  void OnActivate(bool active);

  std::optional<ControlId> ControlOfWindow(HWND hwnd) const;
  bool IsAvailable(ControlId id) const;
  void MoveFocus(std::optional<ControlId> from, bool forward);
  // The focus, or the one the window gives back on activation while another window is active.
  HWND CurrentFocus() const;
  void PlaceFocus(HWND control);
  // A control that loses the focus by being disabled or hidden gets it back when it is
  // available again, unless the focus has moved on from where it was parked in between.
  void ParkFocus(ControlId control);
  void ReturnParkedFocus(ControlId control);
  void ClickFromKeyboard(ControlId id);

  FrmStep1& form_;
  MainWindowOptions options_;
  int dpi_x_ = 96;
  int dpi_y_ = 96;
  WindowLayout layout_;
  HWND window_ = nullptr;
  HWND frame_border_ = nullptr;  // the captioned border drawn inside Frame1
  HWND path_tips_ = nullptr;
  std::array<HWND, kControlCount> controls_{};
  std::array<HICON, kControlCount> images_{};
  std::map<FontKey, HFONT> fonts_;
  std::map<COLORREF, HBRUSH> brushes_;
  HCURSOR pointing_hand_ = nullptr;
  ScreenPointer screen_pointer_ = ScreenPointer::Default;
  HWND focus_when_inactive_ = nullptr;
  std::optional<ControlId> parked_from_;
  HWND parked_at_ = nullptr;
};

}  // namespace mailsheaf
