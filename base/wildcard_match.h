#pragma once
// The name matching of find-first patterns, for the bindings that have to do it themselves.

#include <string_view>

namespace mailsheaf {

// Whether a file name matches a find-first pattern: "*" stands for any run of characters (dots
// included), "?" for exactly one; letters compare without regard to case (ASCII and Latin-1).
// "*.*" matches every name, with or without a dot, as on Windows.
bool MatchesWildcard(std::u16string_view name, std::u16string_view pattern);

}  // namespace mailsheaf
