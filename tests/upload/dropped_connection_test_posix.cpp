// A connection that the server's side kills, natively: Wine's programs cannot reach Dovecot's
// processes.

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/upload/test_server.h"

namespace mailsheaf::upload_test {
namespace {

using Outcome = AppendResult::Outcome;

// SIGKILL to the imap processes serving `user`.
bool KillServingProcesses(const std::string& user) {
  const std::string command = std::string("bash '") + MAILSHEAF_DOVECOT_SCRIPT + "' kill-imap '" +
                              MAILSHEAF_DOVECOT_DIR + "' '" + user + "'";
  return std::system(command.c_str()) == 0;
}

TEST(DovecotDroppedConnection, KilledByTheServerIsReportedAsLost) {
  Session s;
  const std::u16string box = Fresh(u"Dropped");
  ASSERT_TRUE(s.imap.Create(box, s.error)) << Narrow(s.error.text);
  ASSERT_TRUE(KillServingProcesses(Server().user));
  const std::string message = "Subject: lost\r\n\r\n" + std::string(300 * 1024, 'z') + "\r\n";
  bool appended = true;
  for (uint64_t id = 0; id < 4 && appended; ++id)
    appended = s.imap.Append({id, box, {}, false, 0, message}, s.error);
  if (appended) {
    EXPECT_FALSE(s.imap.FinishAppends(s.error));
  }
  EXPECT_EQ(s.error.kind, ImapErrorKind::kConnectionLost) << Narrow(s.error.text);
  EXPECT_EQ(s.imap.State(), ImapState::kDisconnected);
  ASSERT_FALSE(s.results.empty());
  EXPECT_EQ(s.results.back().outcome, Outcome::kUnconfirmed);
  ASSERT_TRUE(s.imap.Connect(Address(ImapSecurity::kTls), s.error)) << Narrow(s.error.text);
  EXPECT_TRUE(s.imap.Login(Server().user, Server().password, s.error)) << Narrow(s.error.text);
}

}  // namespace
}  // namespace mailsheaf::upload_test
