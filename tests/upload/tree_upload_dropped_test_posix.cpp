// A tree upload whose connection the server's side kills half-way: it goes on, and every
// message is in the account once. Native only, as the killing is.

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/upload/tree_upload.h"

namespace mailsheaf::upload_test {
namespace {

TEST(TreeUploadDropped, KilledConnectionsAreMadeAgainAndNothingIsAddedTwice) {
  const std::string user = "mailsheaf-5";
  Tree tree;
  // 64 messages fill a batch, which is sent as the 64th is handled: the first kill finds it in
  // flight. The second comes while the last folder's messages are being read.
  for (int n = 0; n < 90; ++n) {
    tree.Add((n < 70 ? "F0/" : "F1/") + std::to_string(1000 + n) + ".eml",
             "Message-ID: <k" + std::to_string(n) + "@test>\r\nSubject: k\r\n\r\n" +
                 std::string(n < 70 ? 2000 : 60000, 'k') + "\r\n");
  }
  int kills = 0;
  UploadReport report;
  const bool done = UploadTree(user, tree, report, [&](const UploadProgress& p, Uploader&) {
    if ((p.messages_done == 64 || p.messages_done == 80) && kills < 2 && p.status.empty()) {
      ++kills;
      const std::string command = std::string("bash '") + MAILSHEAF_DOVECOT_SCRIPT +
                                  "' kill-imap '" + MAILSHEAF_DOVECOT_DIR + "' " + user;
      EXPECT_EQ(std::system(command.c_str()), 0);
    }
  });
  ASSERT_TRUE(done) << Narrow(report.failure);
  EXPECT_EQ(kills, 2);
  EXPECT_GE(report.reconnects, 2);
  EXPECT_EQ(report.Total(&UploadReport::Mailbox::added), 90);
  EXPECT_EQ(report.Total(&UploadReport::Mailbox::server_count), 90);
  EXPECT_EQ(report.Refused() + report.NotAdded(), 0);
}

}  // namespace
}  // namespace mailsheaf::upload_test
