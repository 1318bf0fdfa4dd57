#include "mail/long_lines.h"

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
      const std::string bytes = mended.Bytes();
      ExpectMendedWell(c.message, bytes, eol);
      for (const std::string& kept : c.kept) {
        EXPECT_NE(bytes.find(kept), std::string::npos) << "an untouched part changed";
      }
      for (const std::string& added : c.added) EXPECT_THAT(bytes, HasSubstr(added));
      EXPECT_EQ(mended.header_added, c.what.find("without a header section") != std::string::npos);
    }
  }
}

// The file hands the message over in pieces of whatever size: a CRLF, a delimiter or a soft
// break's room split between two pieces mends the same.
TEST(LongLines, TheMendIsTheSameWhateverThePiecesTheFileGives) {
  class Pieces final : public MendSource {
   public:
    Pieces(const std::string& text, size_t piece) : text_(text), piece_(piece) {}
    bool ReadThrough(const std::function<bool(std::string_view)>& take,
                     std::u16string&) override {
      for (size_t at = 0; at < text_.size(); at += piece_) {
        if (!take(std::string_view(text_).substr(at, piece_))) return false;
      }
      return true;
    }

   private:
    const std::string& text_;
    size_t piece_;
  };
  for (const MendCase& c : MendCases("\r\n")) {
    const MendedMessage whole = MendLongLines(c.message);
    for (const size_t piece : {1, 7, 10241, 70000}) {
      Pieces source(c.message, piece);
      MendPlan plan;
      std::u16string error;
      ASSERT_TRUE(PlanMend(source, nullptr, plan, error)) << c.what;
      std::string bytes;
      ASSERT_TRUE(WriteMend(source, plan, [&](std::string_view p) { return bytes.append(p), true; },
                            nullptr, error));
      EXPECT_EQ(plan.size, bytes.size()) << c.what << ", pieces of " << piece;
      EXPECT_TRUE(bytes == whole.Bytes()) << c.what << ", pieces of " << piece;
    }
  }
}

// As long as MIME allows and no longer: base64, quoted-printable kept, and a plain part made so;
// and no quoted-printable line ends in a blank, which transports strip (RFC 2045, 6.7).
TEST(LongLines, ReEncodedLinesAreSeventySixBytesAtMost) {
  for (const std::string& message : {
           "Content-Transfer-Encoding: base64\r\n\r\n" + Base64(Bytes(30000, 7)),
           "Content-Transfer-Encoding: quoted-printable\r\n\r\n" + std::string(20000, 'q'),
           "Subject: x\r\n\r\n" + std::string(20000, '='),
           "Subject: x\r\n\r\n" + std::string(20000, 'q') + " ",
           "Subject: x\r\n\r\n" + std::string(20000, 'q') + "\t"}) {
    const std::string mended = MendLongLines(message + "\r\n").Bytes();
    const std::string body = mended.substr(mended.find("\r\n\r\n") + 4);
    EXPECT_EQ(LongestLine(body), 76u) << message.substr(0, 40);
    EXPECT_EQ(body.find(" \r\n"), std::string::npos);
    EXPECT_EQ(body.find("\t\r\n"), std::string::npos);
  }
}

// Nested `depth` deep, one part in each level, with `inner` at the bottom.
std::string Nested(int depth, bool multipart, const std::string& inner) {
  std::string before, after;
  for (int i = 0; i < depth; ++i) {
    const std::string b = "b" + std::to_string(i);
    before += multipart ? "Content-Type: multipart/mixed; boundary=" + b + "\r\n\r\n--" + b + "\r\n"
                        : "Content-Type: message/rfc822\r\n\r\n";
    if (multipart) after = "\r\n--" + b + "--\r\n" + after;
  }
  return before + inner + after;
}

TEST(LongLines, WhatCannotBeMendedIsSaidAndLeftAsItIs) {
  const std::string long_part = "Content-Type: text/plain\r\n\r\n" + std::string(20000, 'x');
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
      {"parts nested 20,000 deep", Nested(20000, true, long_part), "nested deeper than 100"},
      {"messages nested 20,000 deep", Nested(20000, false, long_part), "nested deeper than 100"},
      {"a piece of a split message",
       "Content-Type: message/partial; id=x; number=1\r\n\r\n" + std::string(20000, 'p'),
       "message/partial"},
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

// What a mend changes beside the bytes is told: a signature it breaks, and a stop asked for
// while a large message is re-encoded.
TEST(LongLines, WhatAMendBreaksIsToldAndAStopIsHeard) {
  const std::string text = "Content-Type: text/plain\r\n\r\n" + std::string(20000, 't') + "\r\n";
  const std::string signature = "Content-Type: application/pgp-signature\r\n\r\nsig\r\n";
  const struct {
    const char* what;
    std::string message;
    bool signature_broken, dkim_broken;
  } cases[] = {
      {"inside the signed part",
       "Content-Type: multipart/signed; boundary=s\r\n\r\n--s\r\n" + text + "--s\r\n" +
           signature + "--s--\r\n",
       true, false},
      {"beside a signed message, not in it",
       "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\n" + text + "--m\r\n" +
           "Content-Type: multipart/signed; boundary=s\r\n\r\n--s\r\nshort\r\n--s\r\n" +
           signature + "--s--\r\n--m--\r\n",
       false, false},
      {"a body under DKIM", "DKIM-Signature: v=1; d=example.org\r\n" + text, false, true},
  };
  for (const auto& c : cases) {
    const MendedMessage mended = MendLongLines(c.message);
    ASSERT_EQ(mended.outcome, Outcome::kMended) << c.what;
    EXPECT_EQ(mended.signature_broken, c.signature_broken) << c.what;
    EXPECT_EQ(mended.dkim_broken, c.dkim_broken) << c.what;
  }
  int ticks = 0;
  const MendedMessage stopped = MendLongLines(text + std::string(3 << 20, 'x'), [&] {
    return ++ticks < 2;
  });
  EXPECT_TRUE(stopped.stopped);
  EXPECT_EQ(ticks, 2);
}

}  // namespace
}  // namespace mailsheaf::testing
