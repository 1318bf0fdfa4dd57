#include "base/case_fold.h"

#include <gtest/gtest.h>

#include "base/text.h"

namespace mailsheaf {
namespace {

TEST(CaseBlindText, FoldsEveryScriptWithCaseAndLeavesTheRestAlone) {
  const std::u16string lone_high(1, char16_t(0xD83D));
  const std::u16string lone_low(1, char16_t(0xDC00));
  const struct {
    std::u16string text, key;
  } cases[] = {
      {u"INBOX Sent", u"inbox sent"},
      {u"\u0141\u00d3D\u0179", u"\u0142\u00f3d\u017a"},
      {u"\u0388\u03a1\u0393\u0391", u"\u03ad\u03c1\u03b3\u03b1"},
      {u"\u03a3\u03c3\u03c2", u"\u03c3\u03c3\u03c3"},
      {u"\u017fS\u0131\u212a", u"ssik"},
      {u"\u1e9e\u00df", u"\u00df\u00df"},
      {u"\u041f\u0410\u041f\u041a\u0410\u0401", u"\u043f\u0430\u043f\u043a\u0430\u0451"},
      {u"\u0531\u0532", u"\u0561\u0562"},
      {u"\u10a0\u1c90\u10d0", u"\u2d00\u10d0\u10d0"},
      {u"\U00010400x\U00010427", u"\U00010428x\U0001044f"},
      {u"\uff21\uff3a", u"\uff41\uff5a"},
      {u"0123456789 \u90ae\u4ef6 \U0001F4E7", u"0123456789 \u90ae\u4ef6 \U0001F4E7"},
      {u"\u0130", u"i"},  // as Java lowers it, not Python's two code points
      {lone_high + u"A" + lone_low, lone_high + u"a" + lone_low},
      {lone_low + lone_high, lone_low + lone_high},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CaseBlindText(c.text), c.key) << Utf16ToUtf8(c.text);
    EXPECT_EQ(CaseBlindText(c.key), c.key) << Utf16ToUtf8(c.key);
  }
}

}  // namespace
}  // namespace mailsheaf
