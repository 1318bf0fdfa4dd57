#include "upload/digest.h"

#include <algorithm>
#include <cstring>

namespace mailsheaf {
namespace {

constexpr uint64_t kP1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kP2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kP3 = 0x165667B19E3779F9ull;
constexpr uint64_t kP4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t kP5 = 0x27D4EB2F165667C5ull;

uint64_t Rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// Little-endian whatever the machine, so that a journal moves between machines.
uint64_t Read64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

uint32_t Read32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t Round(uint64_t lane, uint64_t input) { return Rotl(lane + input * kP2, 31) * kP1; }

uint64_t Merge(uint64_t hash, uint64_t lane) { return (hash ^ Round(0, lane)) * kP1 + kP4; }

}  // namespace

void Digest64::Put(const unsigned char* data, size_t size) {
  total_ += size;
  if (held_ > 0) {
    const size_t take = std::min(size, sizeof stripe_ - held_);
    std::memcpy(stripe_ + held_, data, take);
    held_ += take;
    data += take;
    size -= take;
    if (held_ < sizeof stripe_) return;
    for (int i = 0; i < 4; ++i) lanes_[i] = Round(lanes_[i], Read64(stripe_ + 8 * i));
    held_ = 0;
  }
  for (; size >= 32; data += 32, size -= 32) {
    for (int i = 0; i < 4; ++i) lanes_[i] = Round(lanes_[i], Read64(data + 8 * i));
  }
  std::memcpy(stripe_, data, size);
  held_ = size;
}

uint64_t Digest64::Value() const {
  uint64_t hash;
  if (total_ >= 32) {
    hash = Rotl(lanes_[0], 1) + Rotl(lanes_[1], 7) + Rotl(lanes_[2], 12) + Rotl(lanes_[3], 18);
    for (uint64_t lane : lanes_) hash = Merge(hash, lane);
  } else {
    hash = lanes_[2] + kP5;
  }
  hash += total_;
  const unsigned char* p = stripe_;
  size_t left = held_;
  for (; left >= 8; p += 8, left -= 8) hash = Rotl(hash ^ Round(0, Read64(p)), 27) * kP1 + kP4;
  if (left >= 4) {
    hash = Rotl(hash ^ (Read32(p) * kP1), 23) * kP2 + kP3;
    p += 4;
    left -= 4;
  }
  for (; left > 0; ++p, --left) hash = Rotl(hash ^ (*p * kP5), 11) * kP1;
  hash ^= hash >> 33;
  hash *= kP2;
  hash ^= hash >> 29;
  hash *= kP3;
  hash ^= hash >> 32;
  return hash;
}

uint64_t DigestOf(std::string_view bytes) {
  Digest64 digest;
  digest.Put(bytes);
  return digest.Value();
}

uint64_t DigestOf(std::u16string_view text) {
  Digest64 digest;
  for (char16_t c : text) {
    const unsigned char pair[2] = {static_cast<unsigned char>(c & 0xFF),
                                   static_cast<unsigned char>(c >> 8)};
    digest.Put(pair, 2);
  }
  return digest.Value();
}

}  // namespace mailsheaf
