#pragma once
// frmStep1's design: the window and every control on it, defined once as data. The model takes
// the controls' initial text and state from here, and the Win32 view builds the real window
// from the same rows.

#include <cstdint>
#include <span>
#include <string_view>

#include "app/control_id.h"

namespace mailsheaf {

enum class ControlKind {
  Rectangle,    // a filled, bordered shape drawn on its container's surface, under every control
  Label,
  Image,        // a small picture from the program's resources
  Button,
  Frame,        // a captioned border that contains controls
  Panel,        // a plain area that contains controls
  ProgressBar,
};

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend constexpr bool operator==(const Rgb&, const Rgb&) = default;
};

// A colour is either the system's button face / button text (it follows the user's scheme) or
// a fixed value.
struct Colour {
  enum class Source { ButtonFace, ButtonText, Fixed };
  Source source = Source::ButtonFace;
  Rgb rgb;
  friend constexpr bool operator==(const Colour&, const Colour&) = default;
};

inline constexpr Colour kButtonFace{Colour::Source::ButtonFace, {}};
inline constexpr Colour kButtonText{Colour::Source::ButtonText, {}};
constexpr Colour FixedColour(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return Colour{Colour::Source::Fixed, Rgb{r, g, b}};
}

// Position and size in twips (1/1440 inch), relative to the control's container.
struct TwipsRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  friend constexpr bool operator==(const TwipsRect&, const TwipsRect&) = default;
};

// Character sets as fonts record them: 0 the default (ANSI) set, 238 Central European.
inline constexpr int kDefaultCharset = 0;
inline constexpr int kCentralEuropeanCharset = 238;

struct FontDesign {
  std::u16string_view face;  // empty: the control has no font of its own
  int centipoints = 0;       // 825 is 8.25 pt
  bool bold = false;
  int charset = kDefaultCharset;
};

struct ControlDesign {
  ControlId id;
  std::u16string_view name;
  ControlKind kind;
  Container container;
  std::u16string_view text;
  TwipsRect position;
  FontDesign font;
  Colour fore = kButtonText;
  Colour back = kButtonFace;  // the fill of a rectangle, the background of everything else
  Colour border = kButtonText;  // rectangles only
  bool enabled = true;
  bool visible = true;
  int tabIndex = -1;             // keyboard order among the buttons; -1: not a tab stop
  bool literalText = false;      // "&" is shown as it is, never taken as an access-key prefix
  bool wraps = false;            // labels: text breaks into lines within the width; otherwise
                                 // it stays on one line, cut at the right edge if too long
  bool shortensPath = false;     // labels: a path too long for one line loses characters from
                                 // its middle, keeping its own name; the whole shows in a tooltip
  bool pointingHand = false;     // the pointing-hand cursor shows over the control
  int imageResource = 0;         // images: the icon resource they show
  std::u16string_view alsoShows = {};  // a text the form puts there later; it must fit too
};

// Every control, in stacking order: a later row lies above the earlier ones on the same
// container. Rectangles are drawn on their container's surface and so lie under every other
// control whatever their row.
std::span<const ControlDesign> ControlTable();

const ControlDesign& DesignOf(ControlId id);

// The window itself.
struct WindowDesign {
  std::u16string_view title;
  int clientWidthTwips;
  int clientHeightTwips;
  int iconResource;
  int pointingHandCursorResource;
};

const WindowDesign& FrmStep1Design();

}  // namespace mailsheaf
