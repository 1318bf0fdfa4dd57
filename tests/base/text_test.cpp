#include "base/text.h"

#include <gtest/gtest.h>

namespace mailsheaf {
namespace {

TEST(Utf8Conversion, RoundTripsEveryPlane) {
  const std::u16string samples[] = {
      u"", u"plain.eml", u"Gr\u00fc\u00dfe", u"\u041f\u0430\u043f\u043a\u0430", u"\u03b1\u03b2\u03b3",
      u"\u90ae\u4ef6", u"\U0001F4E7 mail", u"\uFFFD\uFFFF"};
  for (const auto& s : samples) {
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
  }
  EXPECT_EQ(Utf16ToUtf8(u"\u00e9"), "\xC3\xA9");
  EXPECT_EQ(Utf16ToUtf8(u"\u20AC"), "\xE2\x82\xAC");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F4E7"), "\xF0\x9F\x93\xA7");
}

TEST(Utf8Conversion, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDC00), u'a'}), "\xEF\xBF\xBD" "a");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xD83D)}), "a\xEF\xBF\xBD");
}

TEST(Utf8Conversion, MalformedBytesBecomeReplacementCharacters) {
  const std::u16string rep(1, char16_t(0xFFFD));
  EXPECT_EQ(Utf8ToUtf16("\x80"), rep);
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a" + rep);          // cut short at the end
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), rep + rep);         // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), rep + rep + rep);  // encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), rep + rep + rep + rep);  // past U+10FFFF
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82x"), rep + rep + u"x");
}

TEST(DecimalText, PlainDigits) {
  EXPECT_EQ(DecimalText(0), u"0");
  EXPECT_EQ(DecimalText(2147483647), u"2147483647");
  EXPECT_EQ(DecimalText(-12), u"-12");
}

}  // namespace
}  // namespace mailsheaf
