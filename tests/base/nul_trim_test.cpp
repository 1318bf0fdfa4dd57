#include "base/nul_trim.h"

#include <gtest/gtest.h>

namespace mailsheaf {
namespace {

TEST(CutAtNul, KeepsTheTextBeforeTheFirstNulOnly) {
  EXPECT_EQ(CutAtNul(u"C:\\Mail"), u"C:\\Mail");
  EXPECT_EQ(CutAtNul(std::u16string(u"\0abc", 4)), u"");
  EXPECT_EQ(CutAtNul(std::u16string(u"abc\0def\0", 8)), u"abc");
  EXPECT_EQ(CutAtNul(u""), u"");

  // A buffer from a system call: text, then NUL padding to its full size.
  std::u16string buffer(260, u'\0');
  buffer.replace(0, 4, u"\u041f\u0430\u043f\u043a");
  EXPECT_EQ(CutAtNul(buffer), u"\u041f\u0430\u043f\u043a");
  EXPECT_EQ(buffer.size(), 260u);  // the caller's buffer stays as it was
}

}  // namespace
}  // namespace mailsheaf
