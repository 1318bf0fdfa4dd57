#include "fs/wildcard_match.h"

#include <gtest/gtest.h>

namespace mailsheaf {
namespace {

TEST(MatchesWildcard, StarsAndQuestionMarksWithoutRegardToCase) {
  EXPECT_TRUE(MatchesWildcard(u"a.eml", u"*.eml"));
  EXPECT_TRUE(MatchesWildcard(u"X.EML", u"*.eml"));
  EXPECT_TRUE(MatchesWildcard(u"\u00c9T\u00c9.EML", u"\u00e9t\u00e9.eml"));
  EXPECT_TRUE(MatchesWildcard(u"a.b.eml", u"*.eml"));
  EXPECT_TRUE(MatchesWildcard(u".eml", u"*.eml"));
  EXPECT_FALSE(MatchesWildcard(u"a.emlx", u"*.eml"));
  EXPECT_FALSE(MatchesWildcard(u"a.em", u"*.eml"));
  EXPECT_FALSE(MatchesWildcard(u"eml", u"*.eml"));
  EXPECT_TRUE(MatchesWildcard(u"a1", u"a?"));
  EXPECT_FALSE(MatchesWildcard(u"a", u"a?"));
  EXPECT_TRUE(MatchesWildcard(u"abcabd", u"*ab?"));
  EXPECT_TRUE(MatchesWildcard(u"", u"*"));
  EXPECT_FALSE(MatchesWildcard(u"x", u""));
}

TEST(MatchesWildcard, StarDotStarMatchesNamesWithoutADot) {
  EXPECT_TRUE(MatchesWildcard(u"README", u"*.*"));
  EXPECT_TRUE(MatchesWildcard(u".", u"*.*"));
  EXPECT_TRUE(MatchesWildcard(u"..", u"*"));
  EXPECT_FALSE(MatchesWildcard(u"README", u"*.x*"));
}

}  // namespace
}  // namespace mailsheaf
