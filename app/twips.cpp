#include "app/twips.h"

namespace mailsheaf {
namespace {

int ScaleRounded(long long value, long long numerator, long long denominator) {
  const long long product = value * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : -((-product + half) / denominator));
}

}  // namespace

int TwipsToPixels(int twips, int dpi) { return ScaleRounded(twips, dpi, 1440); }

int FontPixelHeight(int centipoints, int dpi) { return ScaleRounded(centipoints, dpi, 7200); }

PixelRect ToPixels(const TwipsRect& twips, int dpiX, int dpiY) {
  return PixelRect{TwipsToPixels(twips.left, dpiX), TwipsToPixels(twips.top, dpiY),
                   TwipsToPixels(twips.width, dpiX), TwipsToPixels(twips.height, dpiY)};
}

}  // namespace mailsheaf
