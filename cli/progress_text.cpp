#include "cli/progress_text.h"

#include <algorithm>
#include <cstdio>

#include "base/text.h"

namespace mailsheaf {

std::u16string ByteText(uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return DecimalText(static_cast<long long>(bytes)) + u" B";
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < sizeof kUnits / sizeof *kUnits) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, value < 100 && unit >= 1 ? "%.2f %s" : "%.1f %s", value,
                kUnits[unit]);
  return AsciiToUtf16(text);
}

std::u16string FitText(const std::u16string& text, size_t width) {
  if (text.size() <= width) return text;
  if (width <= 3) return text.substr(text.size() - width);
  const size_t keep = width - 3;
  const size_t head = keep / 3;
  std::u16string fitted = text.substr(0, head);
  fitted.append(u"...").append(text, text.size() - (keep - head));
  return fitted;
}

std::u16string ProgressLine(int percent, uint64_t bytes_done, double bytes_per_second,
                            const std::u16string& current, size_t width) {
  percent = std::clamp(percent, 0, 100);
  constexpr size_t kBar = 20;
  const size_t filled = static_cast<size_t>(percent) * kBar / 100;
  std::u16string line(1, u'[');
  line.append(filled, u'#').append(kBar - filled, u'.').append(u"] ");
  const std::u16string number = DecimalText(percent);
  line.append(3 - std::min<size_t>(3, number.size()), u' ').append(number).append(u"%  ");
  line += ByteText(bytes_done) + u"  ";
  line += ByteText(static_cast<uint64_t>(std::max(0.0, bytes_per_second))) + u"/s  ";
  if (line.size() < width) line += FitText(current, width - line.size());
  line = line.substr(0, width);
  line.resize(width, u' ');
  return line;
}

}  // namespace mailsheaf
