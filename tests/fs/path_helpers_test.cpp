#include "fs/path_helpers.h"

#include <gtest/gtest.h>

#include "tests/support/wide_bytes.h"

namespace mailsheaf {
namespace {

using testing::WideBytesWithNul;

TEST(LongPathBuffer, LocalAndUncPathsGetTheirPrefixesAsUtf16LeWithOneNul) {
  const auto local = LongPathBuffer(u"C:\\Mail");
  EXPECT_EQ(local.size(), 24u);
  EXPECT_EQ(local, WideBytesWithNul(u"\\\\?\\C:\\Mail"));

  EXPECT_EQ(LongPathBuffer(u"\\\\srv\\share"), WideBytesWithNul(u"\\\\?\\UNC\\srv\\share"));
  // Letters beyond Latin-1 keep both bytes of their unit.
  EXPECT_EQ(LongPathBuffer(u"D:\\\u041f"), WideBytesWithNul(u"\\\\?\\D:\\\u041f"));
}

TEST(LongPathBuffer, LeavesEverythingElseAlone) {
  // An existing prefix is not recognised, slashes are not rewritten, relative paths stay.
  EXPECT_EQ(LongPathBuffer(u"\\\\?\\C:\\x"), WideBytesWithNul(u"\\\\?\\UNC\\?\\C:\\x"));
  EXPECT_EQ(LongPathBuffer(u"C:/a/b"), WideBytesWithNul(u"\\\\?\\C:/a/b"));
  EXPECT_EQ(LongPathBuffer(u"rel\\x"), WideBytesWithNul(u"\\\\?\\rel\\x"));
  EXPECT_EQ(LongPathBuffer(u""), WideBytesWithNul(u"\\\\?\\"));
  EXPECT_EQ(LongPathBuffer(u"\\x"), WideBytesWithNul(u"\\\\?\\\\x"));
}

TEST(StripAtNul, CutsAtTheFirstNulOnly) {
  EXPECT_EQ(StripAtNul(u"plain"), u"plain");
  EXPECT_EQ(StripAtNul(std::u16string(u"\0abc", 4)), u"");
  EXPECT_EQ(StripAtNul(std::u16string(u"abc\0def\0", 8)), u"abc");
  EXPECT_EQ(StripAtNul(u""), u"");
}

TEST(FolderOfPath, KeepsTheLastBackslash) {
  EXPECT_EQ(FolderOfPath(u"C:\\Out\\ZimbraMailbox.tgz"), u"C:\\Out\\");
  EXPECT_EQ(FolderOfPath(u"box.tgz"), u"");
  EXPECT_EQ(FolderOfPath(u"C:\\"), u"C:\\");
  EXPECT_EQ(FolderOfPath(u"\\\\srv\\share\\a.tgz"), u"\\\\srv\\share\\");
  EXPECT_EQ(FolderOfPath(u"C:/Out/a.tgz"), u"");
}

}  // namespace
}  // namespace mailsheaf
