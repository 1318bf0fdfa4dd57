#pragma once
// A 64-bit digest of bytes (the XXH64 construction): what the journal keeps of a message sent
// and of names, to know them again on a later run. Not for secrets: only for identity.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mailsheaf {

class Digest64 {
 public:
  void Put(const unsigned char* data, size_t size);
  void Put(std::string_view bytes) {
    Put(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  }
  uint64_t Value() const;

 private:
  uint64_t lanes_[4] = {0x60EA27EEADC0B5D6ull, 0xC2B2AE3D27D4EB4Full, 0, 0x61C8864E7A143579ull};
  unsigned char stripe_[32] = {};
  size_t held_ = 0;  // bytes in stripe_
  uint64_t total_ = 0;
};

uint64_t DigestOf(std::string_view bytes);
// Of text, by its UTF-16 code units: names as the program holds them.
uint64_t DigestOf(std::u16string_view text);

}  // namespace mailsheaf
