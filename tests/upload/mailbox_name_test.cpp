// The wire forms with rules of their own: modified UTF-7 names, INTERNALDATE, fingerprints.

#include "upload/mailbox_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "upload/certificate_fingerprint.h"
#include "upload/imap_form.h"
#include "upload/internal_date.h"

namespace mailsheaf {
namespace {

TEST(ModifiedUtf7, RoundTripsAndRefusesWhatIsNotIt) {
  const struct {
    std::u16string name;
    std::string wire;
  } pairs[] = {
      {u"INBOX", "INBOX"},
      {u"Tom & Jerry", "Tom &- Jerry"},
      {u"Entw\u00fcrfe", "Entw&APw-rfe"},
      {u"~peter/mail/\u53f0\u5317/\u65e5\u672c\u8a9e", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
      {u"\U0001F4E7", "&2D3c5w-"},
      {u"a\tb", "a&AAk-b"},
      {u"", ""},
  };
  for (const auto& p : pairs) {
    EXPECT_EQ(EncodeModifiedUtf7(p.name), p.wire);
    std::u16string decoded;
    EXPECT_TRUE(DecodeModifiedUtf7(p.wire, decoded)) << p.wire;
    EXPECT_EQ(decoded, p.name) << p.wire;
  }
  for (const char* bad : {"&U,BTFw", "&A-", "&AOl-", "&U/BTFw-", "caf\xc3\xa9", "a\r\nb"}) {
    std::u16string decoded = u"untouched";
    EXPECT_FALSE(DecodeModifiedUtf7(bad, decoded)) << bad;
    EXPECT_EQ(decoded, u"untouched");
  }
}

TEST(InternalDate, BothWaysWithZones) {
  EXPECT_EQ(InternalDateText(1796650673), "07-Dec-2026 13:37:53 +0000");
  EXPECT_EQ(InternalDateText(-1), "31-Dec-1969 23:59:59 +0000");
  const struct {
    const char* text;
    int64_t seconds;
  } good[] = {{"07-Dec-2026 13:37:53 +0000", 1796650673},
              {" 7-Dec-2026 14:37:53 +0100", 1796650673},
              {"07-dec-2026 08:07:53 -0530", 1796650673},
              {"29-Feb-2024 00:00:00 +0000", 1709164800}};
  for (const auto& g : good) {
    int64_t seconds = 0;
    EXPECT_TRUE(ParseInternalDate(g.text, seconds)) << g.text;
    EXPECT_EQ(seconds, g.seconds) << g.text;
  }
  for (const char* bad :
       {"29-Feb-2023 00:00:00 +0000", "07-Dez-2026 13:37:53 +0000", "07-Dec-2026 24:00:00 +0000",
        "07-Dec-2026 13:37:53 0000", "7-Dec-2026 13:37:53 +0000"}) {
    int64_t seconds = 0;
    EXPECT_FALSE(ParseInternalDate(bad, seconds)) << bad;
  }
}

TEST(Fingerprint, HexWithOrWithoutColonsInAnyCase) {
  Sha256Digest digest{};
  for (size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<uint8_t>(i * 7 + 0xA0);
  const std::string text = FingerprintText(digest);
  std::string bare_lower;
  for (char c : text) {
    if (c != ':') bare_lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  EXPECT_TRUE(PinnedFingerprintMatches(text, digest));
  EXPECT_TRUE(PinnedFingerprintMatches(bare_lower, digest));
  EXPECT_FALSE(PinnedFingerprintMatches(bare_lower.substr(2), digest));
  EXPECT_FALSE(PinnedFingerprintMatches(text + ":00", digest));
  EXPECT_FALSE(PinnedFingerprintMatches("", digest));
}

TEST(ImapForm, EveryLineEndCrLfAndNoNulHoweverTheBytesArriveInPieces) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\r\nb\n", "a\r\nb\r\n"}, {"\nx", "\r\nx"}, {"a\rb\r", "a\r\nb\r\n"},
      {"a\r\r\nb", "a\r\n\r\nb"}, {"a\n\r\n\rb", "a\r\n\r\n\r\nb"},
      {std::string("x\0y\r\0", 5), "x\x80y\r\n\x80"}};
  for (const auto& [file, sent] : cases) {
    for (const size_t piece : {size_t{1}, size_t{2}, file.size()}) {
      std::string out;
      ImapFormWriter writer(out);
      const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
      for (size_t at = 0; at < file.size(); at += piece)
        writer.Put(bytes + at, std::min(piece, file.size() - at));
      writer.Finish();
      EXPECT_EQ(out, sent) << file << " in pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace mailsheaf
