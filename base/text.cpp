#include "base/text.h"

namespace mailsheaf {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

char32_t NextCodePoint(std::u16string_view text, size_t& at) {
  const char32_t u = text[at++];
  if (IsHighSurrogate(u) && at < text.size() && IsLowSurrogate(text[at])) {
    return 0x10000 + ((u - 0xD800) << 10) + (text[at++] - 0xDC00);
  }
  return u;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

std::u16string CutToUnits(std::u16string text, size_t units) {
  if (text.size() <= units) return text;
  text.resize(units);
  if (!text.empty() && IsHighSurrogate(text.back())) text.pop_back();
  return text;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t cp = NextCodePoint(text, i);
    AppendUtf8(out, IsHighSurrogate(cp) || IsLowSurrogate(cp) ? kReplacement : cp);
  }
  return out;
}

namespace {

// Well-formed UTF-8 into UTF-16; each byte that is not part of a well-formed sequence (stray
// continuation bytes, overlongs, surrogates, values past U+10FFFF) goes to `bad`.
template <typename OnBadByte>
std::u16string DecodeUtf8(std::string_view text, OnBadByte bad) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    } else if ((b0 & 0xE0) == 0xC0) {
      extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
      bad(out, b0);
      ++i;
      continue;
    }
    bool ok = i + static_cast<size_t>(extra) < text.size();
    for (int k = 1; ok && k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      ok = (b & 0xC0) == 0x80;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      bad(out, b0);
      ++i;
      continue;
    }
    AppendUtf16(out, cp);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

constexpr char16_t kFirstKeptByte = 0xDC80;  // lone low surrogates U+DC80..U+DCFF carry 80..FF

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  return DecodeUtf8(text, [](std::u16string& out, unsigned char) {
    out.push_back(static_cast<char16_t>(kReplacement));
  });
}

std::u16string BytesToName(std::string_view bytes, bool& utf8) {
  utf8 = true;
  return DecodeUtf8(bytes, [&utf8](std::u16string& out, unsigned char byte) {
    utf8 = false;
    out.push_back(static_cast<char16_t>(kFirstKeptByte + (byte - 0x80)));
  });
}

std::string NameToBytes(std::u16string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const char32_t cp = NextCodePoint(name, i);
    if (cp >= kFirstKeptByte && cp <= kFirstKeptByte + 0x7F) {
      out.push_back(static_cast<char>(0x80 + (cp - kFirstKeptByte)));
    } else {
      AppendUtf8(out, IsHighSurrogate(cp) || IsLowSurrogate(cp) ? kReplacement : cp);
    }
  }
  return out;
}

std::u16string Windows1252ToUtf16(std::string_view bytes) {
  // 80..9F; the five bytes Windows leaves undefined keep their C1 code points, as it does.
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  std::u16string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out.push_back(b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : static_cast<char16_t>(b));
  }
  return out;
}

std::u16string AsciiToUtf16(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

std::u16string DecimalText(long long value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace mailsheaf
