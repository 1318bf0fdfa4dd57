#pragma once
// What a wide call receives in its buffer, as bytes, for comparing buffers exactly.

#include <string>
#include <vector>

namespace mailsheaf::testing {

// The UTF-16LE bytes of a text followed by one NUL unit.
inline std::vector<unsigned char> WideBytesWithNul(const std::u16string& text) {
  std::vector<unsigned char> bytes;
  for (char16_t u : text) {
    bytes.push_back(static_cast<unsigned char>(u & 0xFF));
    bytes.push_back(static_cast<unsigned char>(u >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

}  // namespace mailsheaf::testing
