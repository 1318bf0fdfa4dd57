#include "archive/long_lines.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/archive/long_lines_helpers.h"

namespace mailsheaf::testing {
namespace {

using ::testing::HasSubstr;
using Outcome = MendedMessage::Outcome;

TEST(LongLines, ALineEndsAtACrOrAnLfAndOnlyTheImportersLimitIsMended) {
  EXPECT_EQ(LongestLine(""), 0u);
  EXPECT_EQ(LongestLine("abc\r\nde\n"), 3u);
  EXPECT_EQ(LongestLine("a\rbc\r\n"), 2u) << "a bare CR ends a line";
  // Fed in pieces, a CR at the end of one piece and its LF in the next.
  LineLengthCheck check;
  for (const std::string piece : {"abcd\r", "\nxy", "z\r", "\r\n"}) {
    check.Feed(reinterpret_cast<const unsigned char*>(piece.data()), piece.size());
  }
  EXPECT_EQ(check.Longest(), 4u);

  std::string mac_lines;
  for (int i = 0; i < 400; ++i) mac_lines += "a short line of old Mac mail, " + std::to_string(i) + "\r";
  const struct {
    const char* what;
    std::string message;
    Outcome outcome;
  } cases[] = {
      {"10,240 bytes", "Subject: x\r\n\r\n" + std::string(10240, 'a') + "\r\n", Outcome::kUnchanged},
      {"10,241 bytes", "Subject: x\r\n\r\n" + std::string(10241, 'a') + "\r\n", Outcome::kMended},
      {"bare CR line ends", "Subject: x\rDate: Thu, 22 Aug 2002 07:36:16 -0400\r\r" + mac_lines,
       Outcome::kUnchanged},
      {"a part in bare CR lines inside a CRLF message",
       "Content-Type: multipart/alternative; boundary=b\r\n\r\n--b\r\nContent-Type: text/html\r\n"
       "\r\n" + mac_lines + "\r\n--b--\r\n",
       Outcome::kUnchanged},
  };
  for (const auto& c : cases) EXPECT_EQ(MendLongLines(c.message).outcome, c.outcome) << c.what;
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
      EXPECT_EQ(mended.header_added, c.what.find("without a header section") != std::string::npos);
    }
  }
}

TEST(LongLines, WhatCannotBeMendedIsSaidAndLeftAsItIs) {
  const struct {
    const char* what;
    std::string message;
    const char* reason;
  } cases[] = {
      {"a structured header without white space",
       "References: <" + std::string(20000, 'x') + ">\r\n\r\nbody\r\n", "header line"},
      {"an unstructured header in an unknown charset",
       "Subject: " + std::string(20000, '\xE9') + "\r\n\r\nbody\r\n", "header line"},
      {"an encoding that cannot be re-written",
       "Content-Type: application/x-thing\r\nContent-Transfer-Encoding: x-uuencode\r\n\r\n" +
           std::string(20000, 'u') + "\r\n",
       "x-uuencode"},
      {"a multipart whose boundary never comes",
       "Content-Type: multipart/mixed; boundary=zz\r\n\r\n" + std::string(20000, 'p') + "\r\n",
       "multipart"},
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
