#pragma once
// Text that comes back from fixed-size system buffers, cut at its first NUL.

#include <string>

namespace mailsheaf {

// The text up to its first NUL (code units compared exactly); text without a NUL comes back
// whole.
std::u16string CutAtNul(std::u16string text);

}  // namespace mailsheaf
