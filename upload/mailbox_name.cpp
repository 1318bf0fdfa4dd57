#include "upload/mailbox_name.h"

#include <cstdint>

namespace mailsheaf {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int AlphabetValue(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == ',') return 63;
  return -1;
}

bool Direct(char16_t unit) { return unit >= 0x20 && unit <= 0x7e; }

void EncodeRun(std::u16string_view run, std::string& out) {
  out += '&';
  uint32_t bits = 0;
  int count = 0;
  for (char16_t unit : run) {
    bits = (bits << 16) | unit;
    count += 16;
    while (count >= 6) {
      count -= 6;
      out += kAlphabet[(bits >> count) & 63];
    }
  }
  if (count > 0) out += kAlphabet[(bits << (6 - count)) & 63];
  out += '-';
}

}  // namespace

std::string EncodeModifiedUtf7(std::u16string_view name) {
  std::string out;
  size_t i = 0;
  while (i < name.size()) {
    if (name[i] == u'&') {
      out += "&-";
      ++i;
    } else if (Direct(name[i])) {
      out += static_cast<char>(name[i]);
      ++i;
    } else {
      size_t end = i;
      while (end < name.size() && !Direct(name[end])) ++end;
      EncodeRun(name.substr(i, end - i), out);
      i = end;
    }
  }
  return out;
}

bool DecodeModifiedUtf7(std::string_view wire, std::u16string& name) {
  std::u16string out;
  size_t i = 0;
  while (i < wire.size()) {
    const char c = wire[i];
    if (c < 0x20 || c > 0x7e) return false;
    if (c != '&') {
      out += static_cast<char16_t>(c);
      ++i;
      continue;
    }
    const size_t end = wire.find('-', i + 1);
    if (end == std::string_view::npos) return false;
    if (end == i + 1) {
      out += u'&';
      i = end + 1;
      continue;
    }
    uint32_t bits = 0;
    int count = 0;
    for (size_t k = i + 1; k < end; ++k) {
      const int value = AlphabetValue(wire[k]);
      if (value < 0) return false;
      bits = (bits << 6) | static_cast<uint32_t>(value);
      count += 6;
      if (count >= 16) {
        count -= 16;
        out += static_cast<char16_t>((bits >> count) & 0xFFFF);
      }
    }
    if (count >= 6 || (bits & ((1u << count) - 1)) != 0) return false;
    i = end + 1;
  }
  name = std::move(out);
  return true;
}

}  // namespace mailsheaf
