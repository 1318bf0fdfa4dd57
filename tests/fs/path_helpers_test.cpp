#include "fs/path_helpers.h"

#include <gtest/gtest.h>

namespace mailsheaf {
namespace {

std::vector<unsigned char> Utf16LeWithNul(const std::u16string& text) {
  std::vector<unsigned char> bytes;
  for (char16_t u : text) {
    bytes.push_back(static_cast<unsigned char>(u & 0xFF));
    bytes.push_back(static_cast<unsigned char>(u >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

TEST(LongPathBuffer, LocalAndUncPathsGetTheirPrefixesAsUtf16LeWithOneNul) {
  const auto local = LongPathBuffer(u"C:\\Mail");
  EXPECT_EQ(local.size(), 24u);
  EXPECT_EQ(local, Utf16LeWithNul(u"\\\\?\\C:\\Mail"));

  EXPECT_EQ(LongPathBuffer(u"\\\\srv\\share"), Utf16LeWithNul(u"\\\\?\\UNC\\srv\\share"));
  // Letters beyond Latin-1 keep both bytes of their unit.
  EXPECT_EQ(LongPathBuffer(u"D:\\\u041f"), Utf16LeWithNul(u"\\\\?\\D:\\\u041f"));
}

TEST(LongPathBuffer, LeavesEverythingElseAlone) {
  // An existing prefix is not recognised, slashes are not rewritten, relative paths stay.
  EXPECT_EQ(LongPathBuffer(u"\\\\?\\C:\\x"), Utf16LeWithNul(u"\\\\?\\UNC\\?\\C:\\x"));
  EXPECT_EQ(LongPathBuffer(u"C:/a/b"), Utf16LeWithNul(u"\\\\?\\C:/a/b"));
  EXPECT_EQ(LongPathBuffer(u"rel\\x"), Utf16LeWithNul(u"\\\\?\\rel\\x"));
  EXPECT_EQ(LongPathBuffer(u""), Utf16LeWithNul(u"\\\\?\\"));
  EXPECT_EQ(LongPathBuffer(u"\\x"), Utf16LeWithNul(u"\\\\?\\\\x"));
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
