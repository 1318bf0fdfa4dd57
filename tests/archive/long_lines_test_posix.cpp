#include "archive/long_lines.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/archive/long_lines_helpers.h"

namespace mailsheaf::testing {
namespace {

using ::testing::HasSubstr;
using Outcome = MendedMessage::Outcome;

TEST(LongLines, LengthIsTheBytesBetweenLineEnds) {
  EXPECT_EQ(LongestLine(""), 0u);
  EXPECT_EQ(LongestLine("abc"), 3u);
  EXPECT_EQ(LongestLine("abc\r\nde\n"), 3u);
  EXPECT_EQ(LongestLine("a\rb\r\n"), 3u) << "a lone CR is part of the line";
  EXPECT_EQ(LongestLine(std::string(10240, 'x') + "\r\n"), 10240u);
  // Fed in pieces, a CR at the end of one piece and its LF in the next.
  LineLengthCheck check;
  const std::string pieces[] = {"abcd\r", "\nxy", "z\r", "\r\n"};
  for (const std::string& piece : pieces) {
    check.Feed(reinterpret_cast<const unsigned char*>(piece.data()), piece.size());
  }
  EXPECT_EQ(check.Longest(), 4u);
}

TEST(LongLines, AMessageWithinTheLimitIsLeftAlone) {
  const std::string message = "Subject: x\r\n\r\n" + std::string(10240, 'a') + "\r\n";
  EXPECT_EQ(MendLongLines(message).outcome, Outcome::kUnchanged);
}

TEST(LongLines, EachKindOfPartIsReEncodedAndDecodesToTheSameBytes) {
  for (const std::string eol : {"\r\n", "\n"}) {
    SCOPED_TRACE(eol == "\n" ? "LF" : "CRLF");
    for (const MendCase& c : MendCases(eol)) {
      SCOPED_TRACE(c.what);
      const MendedMessage mended = MendLongLines(c.message);
      ASSERT_EQ(mended.outcome, Outcome::kMended) << Narrow(mended.reason);
      ExpectMendedWell(c.message, mended.bytes, eol);
      for (const std::string& kept : c.kept) {
        EXPECT_NE(mended.bytes.find(kept), std::string::npos) << "an untouched part changed";
      }
      for (const std::string& added : c.added) EXPECT_THAT(mended.bytes, HasSubstr(added));
    }
  }
}

TEST(LongLines, WhatCannotBeMendedIsSaidAndLeftAsItIs) {
  const struct {
    const char* what;
    std::string message;
    const char* reason;
  } cases[] = {
      {"a header without white space",
       "Subject: " + std::string(20000, 'x') + "\r\n\r\nbody\r\n", "header line"},
      {"an encoding that cannot be re-written",
       "Content-Type: application/x-thing\r\nContent-Transfer-Encoding: x-uuencode\r\n\r\n" +
           std::string(20000, 'u') + "\r\n",
       "x-uuencode"},
      {"a multipart whose boundary never comes",
       "Content-Type: multipart/mixed; boundary=zz\r\n\r\n" + std::string(20000, 'p') + "\r\n",
       "multipart"},
      {"a long line in the preamble",
       "Content-Type: multipart/mixed; boundary=zz\r\n\r\n" + std::string(20000, 'p') +
           "\r\n--zz\r\n\r\nshort\r\n--zz--\r\n",
       "outside the parts"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const MendedMessage mended = MendLongLines(c.message);
    EXPECT_EQ(mended.outcome, Outcome::kCannot);
    EXPECT_THAT(Narrow(mended.reason), HasSubstr(c.reason));
  }
}

}  // namespace
}  // namespace mailsheaf::testing
