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
  for (int n = 0; n < 40; ++n) {
    tree.Add("F" + std::to_string(n % 3) + "/" + std::to_string(n) + ".eml",
             "Message-ID: <k" + std::to_string(n) + "@test>\r\nSubject: k\r\n\r\n" +
                 std::string(60000, 'k') + "\r\n");
  }
  int kills = 0;
  UploadReport report;
  const bool done = UploadTree(user, tree, report, [&](const UploadProgress& p, Uploader&) {
    if ((p.messages_done == 9 || p.messages_done == 25) && kills < 2 && p.status.empty()) {
      ++kills;
      const std::string command = std::string("bash '") + MAILSHEAF_DOVECOT_SCRIPT +
                                  "' kill-imap '" + MAILSHEAF_DOVECOT_DIR + "' " + user;
      EXPECT_EQ(std::system(command.c_str()), 0);
    }
  });
  ASSERT_TRUE(done) << Narrow(report.failure);
  EXPECT_EQ(kills, 2);
  EXPECT_GE(report.reconnects, 2);
  EXPECT_EQ(report.Total(&UploadReport::Mailbox::added), 40);
  EXPECT_EQ(report.Total(&UploadReport::Mailbox::server_count), 40);
  EXPECT_EQ(report.Refused() + report.NotAdded(), 0);
}

}  // namespace
}  // namespace mailsheaf::upload_test
