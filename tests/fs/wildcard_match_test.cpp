#include "fs/wildcard_match.h"

#include <gtest/gtest.h>

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

TEST(MatchesWildcard, StarDotStarMatchesNamesWithoutADot) {
  EXPECT_TRUE(MatchesWildcard(u"README", u"*.*"));
  EXPECT_TRUE(MatchesWildcard(u".", u"*.*"));
  EXPECT_TRUE(MatchesWildcard(u"..", u"*"));
  EXPECT_FALSE(MatchesWildcard(u"README", u"*.x*"));
}

}  // namespace
}  // namespace mailsheaf
