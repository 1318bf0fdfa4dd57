#include "shell/trim_at_nul.h"

#include <gtest/gtest.h>

namespace mailsheaf {
namespace {

TEST(TrimAtNul, CutsTheCallersTextAtTheFirstNul) {
  std::u16string plain = u"C:\\Mail";
  EXPECT_EQ(TrimAtNul(plain), u"C:\\Mail");
  EXPECT_EQ(plain, u"C:\\Mail");

  std::u16string leading(u"\0abc", 4);
  EXPECT_EQ(TrimAtNul(leading), u"");
  EXPECT_EQ(leading, u"");

  std::u16string middle(u"abc\0def\0", 8);
  EXPECT_EQ(TrimAtNul(middle), u"abc");
  EXPECT_EQ(middle, u"abc");

  // A buffer from a system call: text, then NUL padding to its full size.
  std::u16string buffer(260, u'\0');
  buffer.replace(0, 4, u"\u041f\u0430\u043f\u043a");
  EXPECT_EQ(TrimAtNul(buffer), u"\u041f\u0430\u043f\u043a");

  std::u16string empty;
  EXPECT_EQ(TrimAtNul(empty), u"");
}

}  // namespace
}  // namespace mailsheaf
