#pragma once
// Text that comes back from fixed-size system buffers, cut at its first NUL.

#include <string>

namespace mailsheaf {

// Cuts `text` in place before its first NUL (code units compared exactly) and returns the
// result; text without a NUL stays as it is.
std::u16string TrimAtNul(std::u16string& text);

}  // namespace mailsheaf
