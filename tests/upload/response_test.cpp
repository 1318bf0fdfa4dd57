// The response reader and parser: what they take apart, and every bound they hold.

#include <gtest/gtest.h>

#include "upload/imap_response.h"
#include "upload/imap_response_reader.h"

namespace mailsheaf {
namespace {

// Hands out a fixed byte stream a few bytes at a time, then reports the connection closed.
class ScriptedTransport final : public Transport {
 public:
  explicit ScriptedTransport(std::string bytes) : bytes_(std::move(bytes)) {}
  void SetCancel(std::function<bool()>) override {}
  bool Connect(const std::string&, uint16_t, int, std::u16string&) override { return true; }
  bool StartTls(const TlsOptions&, std::u16string&) override { return true; }
  PeerCertificate LastPeerCertificate() const override { return {}; }
  TransportStatus WriteAll(const char*, size_t, std::u16string&) override {
    return TransportStatus::kOk;
  }
  TransportStatus ReadSome(char* buffer, size_t capacity, size_t& received,
                           std::u16string&) override {
    received = std::min({capacity, bytes_.size() - at_, size_t{3}});
    bytes_.copy(buffer, received, at_);
    at_ += received;
    return received > 0 ? TransportStatus::kOk : TransportStatus::kClosed;
  }
  void Close() override {}

 private:
  std::string bytes_;
  size_t at_ = 0;
};

TEST(ImapResponse, TakesApartStatusAndData) {
  ResponseLimits limits;
  ImapResponse r;
  std::string why;
  ASSERT_TRUE(ParseImapResponse("m7 NO [OVERQUOTA] Quota exceeded\r\n", limits, r, why));
  EXPECT_EQ(r.tag, "m7");
  EXPECT_EQ(r.status, "NO");
  EXPECT_EQ(r.code, "OVERQUOTA");
  EXPECT_EQ(r.text, "NO [OVERQUOTA] Quota exceeded");

  ASSERT_TRUE(
      ParseImapResponse("* LIST (\\Noselect \\Sent) NIL {5}\r\na\"b\\c\r\n", limits, r, why))
      << why;
  EXPECT_EQ(r.name, "LIST");
  ASSERT_EQ(r.items.size(), 3u);
  EXPECT_EQ(r.items[0].items[1].text, "\\Sent");
  EXPECT_EQ(r.items[1].kind, ImapItem::Kind::kNil);
  EXPECT_EQ(r.items[2].text, "a\"b\\c");

  ASSERT_TRUE(
      ParseImapResponse("* 12 FETCH (UID 3 BODY[HEADER.FIELDS (MESSAGE-ID)] {4}\r\n"
                        "x\r\ny FLAGS (\\Seen) X \"q\\\"\")\r\n",
                        limits, r, why))
      << why;
  EXPECT_EQ(r.number, 12u);
  ASSERT_EQ(r.items[0].items.size(), 8u);
  EXPECT_EQ(r.items[0].items[2].text, "BODY[HEADER.FIELDS (MESSAGE-ID)]");
  EXPECT_EQ(r.items[0].items[3].text, "x\r\ny");
  EXPECT_EQ(r.items[0].items[7].text, "q\"");
}

TEST(ImapResponse, RefusesMalformedAndOverBounds) {
  ResponseLimits limits;
  limits.max_items = 5;
  limits.max_depth = 2;
  limits.max_literal = 10;
  for (const char* bad : {"* LIST (a b\r\n", "* X a)\r\n", "* X \"open\r\n", "* X {4}\r\nab\r\n",
                          "* X ((( a )))\r\n", "* X 1 2 3 4 5 6\r\n", "* X {11}\r\n12345678901\r\n",
                          "m1 FETCH (a)\r\n", "* OK no line end", "* X BODY[ab\r\n"}) {
    ImapResponse r;
    std::string why;
    EXPECT_FALSE(ParseImapResponse(bad, limits, r, why)) << bad;
  }
}

TEST(ImapResponseReader, CutsWholeResponsesAndHoldsItsBounds) {
  ResponseLimits limits;
  limits.max_line = 40;
  limits.max_literal = 20;
  limits.max_response = 50;
  const struct {
    std::string stream;
    std::vector<std::string> responses;
    ReadOutcome last;
  } cases[] = {
      {"* OK hi\r\n* 1 FETCH (BODY[] {6}\r\na\r\n}\r\n)\r\n+ go\r\n",
       {"* OK hi\r\n", "* 1 FETCH (BODY[] {6}\r\na\r\n}\r\n)\r\n", "+ go\r\n"},
       ReadOutcome::kClosed},
      {"* OK " + std::string(40, 'x') + "\r\n", {}, ReadOutcome::kMalformed},
      {"* OK " + std::string(60, 'x'), {}, ReadOutcome::kMalformed},
      {"* X {21}\r\n", {}, ReadOutcome::kMalformed},
      {"* X {99999999999999999999999}\r\n", {}, ReadOutcome::kMalformed},
      {"* X {20}\r\n" + std::string(20, 'l') + " {20}\r\n" + std::string(20, 'l') + ")\r\n",
       {},
       ReadOutcome::kMalformed},
      {"* X {10}\r\nshort", {}, ReadOutcome::kClosed},
  };
  for (const auto& c : cases) {
    ScriptedTransport transport(c.stream);
    ImapResponseReader reader(transport, limits);
    std::string raw;
    std::u16string error;
    for (const std::string& expected : c.responses) {
      ASSERT_EQ(reader.Next(raw, error), ReadOutcome::kOk) << c.stream;
      EXPECT_EQ(raw, expected);
    }
    EXPECT_EQ(reader.Next(raw, error), c.last) << c.stream;
  }
}

}  // namespace
}  // namespace mailsheaf
