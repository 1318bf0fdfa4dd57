#pragma once
// Keyboard access to the window's buttons: their access keys and their keyboard order.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/control_id.h"

namespace mailsheaf {

// The character that a single "&" marks in a caption, or 0 when there is none. "&&" stands for
// an "&" of the text and marks nothing; the first marked character counts.
char16_t AccessKeyOf(std::u16string_view caption);

// Whether a typed character selects the caption's access key; letters match in either case.
bool MatchesAccessKey(std::u16string_view caption, char16_t typed);

// The control that the Tab key (forward) or Shift+Tab moves to from `from`, in the keyboard
// order of the control table, skipping those that `available` rejects and wrapping around at
// either end. Without a `from` (focus on no tab stop) forward starts at the first control and
// backward at the last. Nothing when no control is available.
std::optional<ControlId> NextTabStop(std::optional<ControlId> from, bool forward,
                                     const std::function<bool(ControlId)>& available);

// The first control in keyboard order whose current caption has the typed access key, among
// those `available` accepts, or nothing.
std::optional<ControlId> ControlForAccessKey(
    char16_t typed, const std::function<std::u16string(ControlId)>& captionOf,
    const std::function<bool(ControlId)>& available);

}  // namespace mailsheaf
