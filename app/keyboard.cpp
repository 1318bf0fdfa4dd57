#include "app/keyboard.h"

#include <algorithm>
#include <vector>

#include "app/control_table.h"

namespace mailsheaf {
namespace {

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; }

// The tab stops, sorted by their keyboard order.
std::vector<ControlId> KeyboardOrder() {
  std::vector<const ControlDesign*> stops;
  for (const ControlDesign& row : ControlTable()) {
    if (row.tabIndex >= 0) stops.push_back(&row);
  }
  std::sort(stops.begin(), stops.end(),
            [](const ControlDesign* a, const ControlDesign* b) {
              return a->tabIndex < b->tabIndex;
            });
  std::vector<ControlId> order;
  for (const ControlDesign* row : stops) order.push_back(row->id);
  return order;
}

}  // namespace

char16_t AccessKeyOf(std::u16string_view caption) {
  for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != u'&') continue;
    if (caption[i + 1] != u'&') return caption[i + 1];
    ++i;  // "&&": a literal ampersand
  }
  return 0;
}

bool MatchesAccessKey(std::u16string_view caption, char16_t typed) {
  const char16_t key = AccessKeyOf(caption);
  return key != 0 && FoldAscii(key) == FoldAscii(typed);
}

std::optional<ControlId> NextTabStop(std::optional<ControlId> from, bool forward,
                                     const std::function<bool(ControlId)>& available) {
  const std::vector<ControlId> order = KeyboardOrder();
  const int count = static_cast<int>(order.size());
  int position = forward ? -1 : count;
  if (from) {
    const auto found = std::find(order.begin(), order.end(), *from);
    if (found != order.end()) position = static_cast<int>(found - order.begin());
  }
  for (int step = 1; step <= count; ++step) {
    const int index = ((position + (forward ? step : -step)) % count + count) % count;
    const ControlId candidate = order[static_cast<std::size_t>(index)];
    if (available(candidate)) return candidate;
  }
  return std::nullopt;
}

std::optional<ControlId> ControlForAccessKey(
    char16_t typed, const std::function<std::u16string(ControlId)>& captionOf,
    const std::function<bool(ControlId)>& available) {
  for (ControlId id : KeyboardOrder()) {
    if (MatchesAccessKey(captionOf(id), typed) && available(id)) return id;
  }
  return std::nullopt;
}

}  // namespace mailsheaf
