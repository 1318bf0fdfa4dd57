#pragma once
// Twips (1/1440 inch) to screen pixels at the screen's dots per inch.

#include "app/control_table.h"

namespace mailsheaf {

// Rounded to the nearest pixel, halves away from zero: 15 twips are one pixel at 96 DPI.
int TwipsToPixels(int twips, int dpi);

// The character height in pixels of a font of the given size, as fonts are asked for.
int FontPixelHeight(int centipoints, int dpi);

struct PixelRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  friend constexpr bool operator==(const PixelRect&, const PixelRect&) = default;
};

// Each of the four values is converted on its own, horizontal ones at dpiX, vertical at dpiY.
PixelRect ToPixels(const TwipsRect& twips, int dpiX, int dpiY);

}  // namespace mailsheaf
