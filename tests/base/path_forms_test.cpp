#include "base/path_forms.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

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

TEST(FolderOfPath, KeepsTheLastBackslash) {
  EXPECT_EQ(FolderOfPath(u"C:\\Out\\ZimbraMailbox.tgz"), u"C:\\Out\\");
  EXPECT_EQ(FolderOfPath(u"box.tgz"), u"");
  EXPECT_EQ(FolderOfPath(u"C:\\"), u"C:\\");
  EXPECT_EQ(FolderOfPath(u"\\\\srv\\share\\a.tgz"), u"\\\\srv\\share\\");
  EXPECT_EQ(FolderOfPath(u"C:/Out/a.tgz"), u"");
}

TEST(EnsureTrailingBackslash, AddsOneOnlyWhenMissing) {
  for (const auto& [path, expected] : std::vector<std::pair<std::u16string, std::u16string>>{
           {u"C:\\Mail", u"C:\\Mail\\"},
           {u"C:\\", u"C:\\"},
           {u"\\\\srv\\share\\", u"\\\\srv\\share\\"},
           {u"C:/Mail/", u"C:/Mail/\\"},
           {u"", u"\\"},
       }) {
    std::u16string text = path;
    EnsureTrailingBackslash(text);
    EXPECT_EQ(text, expected);
  }
}

}  // namespace
}  // namespace mailsheaf
