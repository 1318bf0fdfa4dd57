#pragma once
// The window's layout in pixels at a screen's DPI, with controls grown where their texts need
// more room than the design gives them. Fonts do not grow in step with the twips of the design
// (their heights round to whole pixels and their glyphs are hinted), so a control that just held
// its text at 96 DPI can cut it at 120 or 144.

#include <array>
#include <functional>

#include "app/control_table.h"
#include "app/twips.h"

namespace mailsheaf {

struct PixelSize {
  int width = 0;
  int height = 0;
  friend constexpr bool operator==(const PixelSize&, const PixelSize&) = default;
};

struct WindowLayout {
  PixelSize client;
  // Every control's place, relative to its container, in table order.
  std::array<PixelRect, kControlCount> at{};
};

// The design converted to pixels, nothing grown.
WindowLayout DesignLayout(int dpiX, int dpiY);

// The layout with every control at least as large as `needed` says (0: no need that way).
//
// A control too narrow grows to the right. Where it then reaches a control to its right on the
// same container, it pushes it along, keeping the gap between them: the pushed control gives up
// the width it can spare beyond its own need, and moves as a whole, pushing further, when it
// cannot. A container, and the window itself, widen by what a control would otherwise pass the
// right margin they were designed with; the bands that reach the window's right edge widen with
// it. Controls that share a place (start and stop) grow as one.
//
// A control whose right edge the design lines up with a frame's beside it keeps that line: it
// grows to the left instead, into the gap on its left (down to half) and the width the control
// there can spare, when they hold all it needs.
//
// A control too low grows downwards, into the free room above the next control below it and the
// container's bottom margin only.
WindowLayout FitToTexts(const WindowLayout& design,
                        const std::array<PixelSize, kControlCount>& needed);

// The dots per inch to lay the window out at: the screen's `dpi`, or where the window's outer
// size at it (`outerAt`) does not fit `room`, a smaller one, scaled down by how much it is too
// large, at which it does. Fonts and places shrink together, so that every text still fits its
// control; a window cut at the screen's edge would hide whole controls. Never below 96, the
// design's own size, unless `dpi` is.
int DpiThatFits(int dpi, PixelSize room, const std::function<PixelSize(int dpi)>& outerAt);

}  // namespace mailsheaf
