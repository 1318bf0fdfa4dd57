// The session and the platform's transport against the real Dovecot of the fixture.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "base/text.h"
#include "tests/upload/test_server.h"
#include "upload/mailbox_name.h"

namespace mailsheaf::upload_test {
namespace {

using Outcome = AppendResult::Outcome;

TEST(DovecotSession, LoginTellsTheServersWordsAndNeverThePassword) {
  ASSERT_NE(Server().imap_port, 0) << "the Dovecot fixture did not run";
  for (const bool right : {true, false}) {
    ImapSession imap(MakeNetworkTransport());
    ImapError error;
    ASSERT_TRUE(imap.Connect(Address(ImapSecurity::kTls), error)) << Narrow(error.text);
    const std::string password = right ? Server().password : "wrong-" + Server().password;
    EXPECT_EQ(imap.Login(Server().user, password, error), right);
    if (right) {
      EXPECT_EQ(imap.State(), ImapState::kAuthenticated);
      EXPECT_TRUE(imap.HasCapability("UIDPLUS"));  // offered only after login
      EXPECT_TRUE(imap.Logout(error));
      EXPECT_EQ(imap.State(), ImapState::kLoggedOut);
    } else {
      EXPECT_EQ(error.kind, ImapErrorKind::kRefused);
      EXPECT_EQ(Narrow(error.text), "NO [AUTHENTICATIONFAILED] Authentication failed.");
      EXPECT_EQ(imap.State(), ImapState::kNotAuthenticated);
    }
  }
}

TEST(DovecotSession, CertificatesAreCheckedAndOnePinnedIsAccepted) {
  std::string pinned_lower_bare = Server().fingerprint;
  std::erase(pinned_lower_bare, ':');
  for (char& c : pinned_lower_bare)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string other_pin = Server().fingerprint;
  other_pin[0] = other_pin[0] == 'A' ? 'B' : 'A';
  const std::string refused = "The certificate of " + TestHost() + " is not trusted";
  const std::string differs = "The certificate of " + TestHost() + " has the SHA-256 fingerprint " +
                              Server().fingerprint + ", not the one given to trust (" + other_pin;
  const struct {
    ImapSecurity security;
    bool untrusted;
    std::string pin;
    std::string refusal;  // empty when it connects
  } cases[] = {
      {ImapSecurity::kTls, false, "", ""},
      {ImapSecurity::kStartTls, false, "", ""},
      {ImapSecurity::kTls, true, "", refused},
      {ImapSecurity::kStartTls, true, "", refused},
      {ImapSecurity::kTls, true, Server().fingerprint, ""},
      {ImapSecurity::kTls, true, pinned_lower_bare, ""},
      {ImapSecurity::kTls, true, other_pin, differs},
      {ImapSecurity::kStartTls, false, other_pin, differs},  // a pin excludes what the CA passes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.security) << " untrusted " << c.untrusted
                                    << " pin " << c.pin);
    ImapServer address = Address(c.security, c.untrusted);
    address.tls.trust_certificate_sha256 = c.pin;
    ImapSession imap(MakeNetworkTransport());
    ImapError error;
    EXPECT_EQ(imap.Connect(address, error), c.refusal.empty()) << Narrow(error.text);
    if (c.refusal.empty()) {
      EXPECT_FALSE(imap.HasCapability("STARTTLS"));  // capabilities asked again inside TLS
      EXPECT_TRUE(imap.Login(Server().user, Server().password, error)) << Narrow(error.text);
    } else {
      EXPECT_EQ(error.kind, ImapErrorKind::kConnect);
      EXPECT_TRUE(Narrow(error.text).starts_with(c.refusal)) << Narrow(error.text);
      EXPECT_NE(Narrow(error.text).find(Server().fingerprint), std::string::npos);
    }
    const PeerCertificate peer = imap.LastPeerCertificate();
    const int64_t now = std::time(nullptr);
    EXPECT_TRUE(peer.known);
    EXPECT_EQ(peer.sha256, Server().fingerprint);
    EXPECT_EQ(Narrow(peer.subject), "localhost");
    EXPECT_EQ(Narrow(peer.issuer), "Mailsheaf Test CA");
    EXPECT_TRUE(peer.not_before <= now && now <= peer.not_after && now - peer.not_before < 86400);
    EXPECT_EQ(peer.not_after - peer.not_before, 30 * 86400);
    EXPECT_EQ(peer.untrusted, c.untrusted && c.pin.empty());  // only the CA missing
  }
}

TEST(DovecotSession, NonAsciiMailboxGoesThroughTheServerInModifiedUtf7) {
  Session s;
  const std::u16string parent = Fresh(u"Gr\u00fc\u00dfe & \u53f0\u5317");
  const std::u16string child = parent + u"/\U0001F4E7 \u041f\u0430\u043f\u043a\u0430";
  ASSERT_TRUE(s.imap.Create(child, s.error)) << Narrow(s.error.text);
  std::vector<MailboxEntry> boxes;
  ASSERT_TRUE(s.imap.List(boxes, s.error)) << Narrow(s.error.text);
  auto named = [&](std::u16string_view name) {
    const auto it =
        std::find_if(boxes.begin(), boxes.end(), [&](auto& b) { return b.name == name; });
    return it == boxes.end() ? nullptr : &*it;
  };
  ASSERT_NE(named(child), nullptr);
  EXPECT_EQ(named(child)->wire_name, EncodeModifiedUtf7(child));
  EXPECT_EQ(named(child)->delimiter, u'/');
  ASSERT_NE(named(parent), nullptr);
  EXPECT_TRUE(named(parent)->HasAttribute("\\HasChildren"));
  for (const char* use : {"\\Sent", "\\Drafts", "\\Junk", "\\Trash"}) {
    EXPECT_EQ(named(Utf8ToUtf16(use + 1))->SpecialUse(), use);
  }
  MailboxStatus status;
  ASSERT_TRUE(s.imap.Select(child, false, status, s.error)) << Narrow(s.error.text);
  EXPECT_EQ(status.exists, 0u);
  std::vector<StoredMessage> stored{StoredMessage{}};
  ASSERT_TRUE(s.imap.FetchStoredMessages(stored, s.error)) << Narrow(s.error.text);
  EXPECT_TRUE(stored.empty());
  EXPECT_FALSE(s.imap.Select(Fresh(u"missing"), false, status, s.error));
  EXPECT_EQ(s.error.kind, ImapErrorKind::kRefused);
  EXPECT_EQ(s.imap.State(), ImapState::kAuthenticated);
}

TEST(DovecotSession, PipelinedAppendsReadBackExactly) {
  for (const bool literal_plus : {true, false}) {
    SCOPED_TRACE(literal_plus ? "LITERAL+" : "waiting for continuations");
    ImapLimits limits;
    limits.use_literal_plus = literal_plus;
    limits.max_appends_in_flight = 3;
    Session s(Address(ImapSecurity::kTls), limits);
    const std::u16string box = Fresh(u"Appended");
    ASSERT_TRUE(s.imap.Create(box, s.error)) << Narrow(s.error.text);
    std::vector<std::string> ids, messages;
    for (int i = 0; i < 7; ++i) {
      ids.push_back(std::to_string(i) + "." + Narrow(box.substr(9)) + "@mailsheaf.test>");
      ids.back().insert(0, 1, '<');
      messages.push_back("Message-ID:\r\n " + ids.back() + "\r\nSubject: " + std::to_string(i) +
                         "\r\n\r\n" + std::string(static_cast<size_t>(i) * 5000, 'x') + "\r\n");
    }
    for (size_t i = 0; i < messages.size(); ++i) {
      AppendRequest request{i,          box, {}, true, 1700000000 + static_cast<int64_t>(i) * 86399,
                            messages[i]};
      if (i % 2 == 0) request.flags = {"\\Seen"};
      ASSERT_TRUE(s.imap.Append(request, s.error)) << Narrow(s.error.text);
      EXPECT_LE(s.imap.AppendsInFlight(), 3u);
    }
    ASSERT_TRUE(s.imap.FinishAppends(s.error)) << Narrow(s.error.text);
    ASSERT_EQ(s.results.size(), messages.size());
    MailboxStatus status;
    ASSERT_TRUE(s.imap.Select(box, true, status, s.error)) << Narrow(s.error.text);
    EXPECT_EQ(status.exists, messages.size());
    std::vector<StoredMessage> stored;
    ASSERT_TRUE(s.imap.FetchStoredMessages(stored, s.error)) << Narrow(s.error.text);
    ASSERT_EQ(stored.size(), messages.size());
    for (size_t i = 0; i < messages.size(); ++i) {
      EXPECT_EQ(s.results[i].id, i);
      EXPECT_EQ(s.results[i].outcome, Outcome::kStored) << Narrow(s.results[i].server_text);
      EXPECT_EQ(s.results[i].uid, stored[i].uid);
      EXPECT_EQ(s.results[i].uid_validity, status.uid_validity);
      EXPECT_EQ(stored[i].size, messages[i].size());
      EXPECT_EQ(stored[i].internal_date, 1700000000 + static_cast<int64_t>(i) * 86399);
      EXPECT_EQ(stored[i].message_id, ids[i]);
      EXPECT_EQ(std::ranges::count(stored[i].flags, std::string("\\Seen")) == 1, i % 2 == 0);
      std::string bytes;
      ASSERT_TRUE(s.imap.FetchMessage(stored[i].uid, bytes, s.error)) << Narrow(s.error.text);
      EXPECT_EQ(bytes, messages[i]);
    }
  }
}

TEST(DovecotSession, QuotaRefusalHasTheServersWordsAndTheSessionGoesOn) {
  for (const bool literal_plus : {true, false}) {
    ImapLimits limits;
    limits.use_literal_plus = literal_plus;
    Session s(Address(ImapSecurity::kStartTls), limits, Server().small_quota_user);
    const std::string small = "Subject: small\r\n\r\nfits\r\n";
    const std::string large = "Subject: large\r\n\r\n" + std::string(400 * 1024, 'y') + "\r\n";
    for (const std::string* message : {&small, &large, &small}) {
      ASSERT_TRUE(s.imap.Append({s.results.size(), u"INBOX", {}, false, 0, *message}, s.error))
          << Narrow(s.error.text);
    }
    ASSERT_TRUE(s.imap.FinishAppends(s.error)) << Narrow(s.error.text);
    ASSERT_EQ(s.results.size(), 3u);
    EXPECT_EQ(s.results[0].outcome, Outcome::kStored);
    EXPECT_EQ(s.results[1].outcome, Outcome::kRefused);
    EXPECT_TRUE(Narrow(s.results[1].server_text)
                    .starts_with("NO [OVERQUOTA] Quota exceeded (mailbox for user is full)"))
        << Narrow(s.results[1].server_text);
    EXPECT_EQ(s.results[2].outcome, Outcome::kStored);
    EXPECT_EQ(s.imap.State(), ImapState::kAuthenticated);
    EXPECT_FALSE(s.imap.Append({3, u"INBOX", {"\\Seen) {1+}"}, false, 0, small}, s.error));
    EXPECT_EQ(s.error.kind, ImapErrorKind::kUsage);
  }
}

}  // namespace
}  // namespace mailsheaf::upload_test
