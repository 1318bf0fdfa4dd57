#include "base/wildcard_match.h"

#include <gtest/gtest.h>

#include "base/message_name.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

TEST(MatchesWildcard, StarsAndQuestionMarksWithoutRegardToCase) {
  EXPECT_TRUE(MatchesWildcard(u"a.eml", u"*.eml"));
  EXPECT_TRUE(MatchesWildcard(u"X.EML", u"*.eml"));
  EXPECT_TRUE(MatchesWildcard(u"\u00c9T\u00c9.EML", u"\u00e9t\u00e9.eml"));
  EXPECT_TRUE(MatchesWildcard(u"a.b.eml", u"*.eml"));
  EXPECT_TRUE(MatchesWildcard(u".eml", u"*.eml"));
  EXPECT_TRUE(MatchesWildcard(u"a1", u"a?"));
  EXPECT_FALSE(MatchesWildcard(u"a", u"a?"));
  EXPECT_TRUE(MatchesWildcard(u"abcabd", u"*ab?"));
  EXPECT_TRUE(MatchesWildcard(u"", u"*"));
  EXPECT_FALSE(MatchesWildcard(u"x", u""));
}

// Names that nearly end in ".eml". On Windows an 8.3 alias can still match (a.emlx is A~1.EML);
// the names themselves never do.
TEST(MatchesWildcard, NearMissesOfTheMessagePatternAreRefused) {
  for (const char16_t* name : {u".em", u"a.em", u".emlx", u"a.emlx", u".eml.txt", u"a.eml.txt",
                               u"a.eml ", u"eml", u"aeml", u"a.eml."}) {
    EXPECT_FALSE(MatchesWildcard(name, u"*.eml")) << "'" << Utf16ToUtf8(name) << "'";
  }
  for (const char16_t* name : {u".EML", u"A.EML", u"a.Eml", u"a .eml", u"a..eml"}) {
    EXPECT_TRUE(MatchesWildcard(name, u"*.eml")) << "'" << Utf16ToUtf8(name) << "'";
  }
}

// The scan matches the long names against the window's pattern, the archive stores the names
// IsMessageName accepts: for "*.eml" the two must agree on every name, or the count and the
// archive part ways. Every name of up to five characters drawn from the letters of ".eml" in
// both cases and a few others.
TEST(MatchesWildcard, TheMessagePatternAgreesWithTheArchiveRuleOnEveryNearMiss) {
  const std::u16string letters = u".eEmMlLx \u00e9\u00c9";
  std::u16string name;
  int compared = 0;
  const auto compare = [&](const auto& self, std::size_t length) -> void {
    ++compared;
    ASSERT_EQ(MatchesWildcard(name, u"*.eml"), IsMessageName(name))
        << "'" << Utf16ToUtf8(name) << "'";
    if (length == 5) return;
    for (char16_t c : letters) {
      name.push_back(c);
      self(self, length + 1);
      name.pop_back();
      if (::testing::Test::HasFatalFailure()) return;
    }
  };
  compare(compare, 0);
  EXPECT_GT(compared, 100000);
  for (const char16_t* other : {u"longname_message.emlx", u"LONGNA~1.EML", u"a.eml.txt",
                                u"a.eml ", u"a.eml.", u"Report.Eml", u"x.e\u0301ml"}) {
    EXPECT_EQ(MatchesWildcard(other, u"*.eml"), IsMessageName(other)) << Utf16ToUtf8(other);
  }
}

TEST(MatchesWildcard, StarDotStarMatchesNamesWithoutADot) {
  EXPECT_TRUE(MatchesWildcard(u"README", u"*.*"));
  EXPECT_TRUE(MatchesWildcard(u".", u"*.*"));
  EXPECT_TRUE(MatchesWildcard(u"..", u"*"));
  EXPECT_FALSE(MatchesWildcard(u"README", u"*.x*"));
}

}  // namespace
}  // namespace mailsheaf
