// A folder tree into the real Dovecot of the fixture, through the packer's --imap and the
// uploader, each case in an account of its own (mailsheaf-N), read back through the session.

#include "tests/upload/tree_upload.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>

#include "mail/message_date.h"
#include "mail/message_to_store.h"
#include "base/text.h"
#include "cli/packer.h"
#include "cli/upload_command.h"
#include "upload/imap_form.h"

namespace mailsheaf::upload_test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string Numbered(const char* head, int n, size_t body_bytes) {
  std::string body;
  while (body.size() < body_bytes) body += "line " + std::to_string(body.size()) + " of the body\r\n";
  return std::string(head) + "Message-ID: <m" + std::to_string(n) + "@test>\r\n" +
         "Date: Tue, 3 Mar 2020 10:0" + std::to_string(n % 10) + ":00 +0000\r\n\r\n" + body;
}

TEST(TreeUpload, ReadBackAsTheServerShowsItThenASecondRunAddsNothing) {
  ASSERT_NE(Server().imaps_port, 0) << "the Dovecot fixture did not run";
  std::string long_line = "Subject: long\r\nMessage-ID: <long@test>\r\n"
                          "Date: Wed, 4 Mar 2020 09:00:00 +0100\r\nStatus: RO\r\n\r\n";
  long_line += std::string(20000, 'w') + "\r\n";
  const struct {
    const char* file;
    std::string content;
    const char16_t* mailbox;
    bool seen;
  } cases[] = {
      {"top.eml", "Subject: top\r\nDate: Mon, 2 Mar 2020 08:00:00 +0000\r\n\r\nno id\r\n",
       u"INBOX", true},
      {"inbox/unread.eml",
       "Subject: u\r\nMessage-ID: <u@test>\r\nStatus: O\r\nDate: Mon, 2 Mar 2020 08:01:00 +0000\r\n\r\nx\r\n",
       u"INBOX", false},
      {"Sent Items/sent.eml", Numbered("Subject: s\r\n", 1, 100), u"Sent", true},
      {"R\u00e9union/r.eml", Numbered("Subject: r\r\n", 2, 100), u"R\u00e9union", true},
      {"Work/Deep/lf.eml", "Subject: lf\nMessage-ID: <lf@test>\nDate: Mon, 2 Mar 2020 08:02:00 +0000\n\nbare\nlf\n",
       u"Work/Deep", true},
      {"Work/Deep/lf-copy.eml", "Subject: lf\nMessage-ID: <lf@test>\nDate: Mon, 2 Mar 2020 08:02:00 +0000\n\nbare\nlf\n",
       u"Work/Deep", true},
      {"Work/cr-nul.eml",
       "Subject: cr\r\nMessage-ID: <cr@test>\r\nDate: Mon, 2 Mar 2020 08:03:00 +0000\r\n\r\nold\rmac" +
           std::string(1, '\0') + "nul\r",
       u"Work", true},
      // Dovecot stores a date in the future as the time it got the message.
      {"Work/future.eml",
       "Subject: f\r\nMessage-ID: <f@test>\r\nDate: Fri, 1 Mar 2030 10:00:00 +0000\r\n\r\nf\r\n",
       u"Work", true},
      {"Work/long.eml", long_line, u"Work", true},
  };
  Tree tree;
  for (const auto& c : cases) tree.Add(c.file, c.content);

  const std::string user = "mailsheaf-1";
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    Cli cli = RunCli({u"--imap", ImapsAddress(), u"--user", Utf8ToUtf16(user),
                      u"--trust-certificate", Utf8ToUtf16(Server().fingerprint), tree.Root()});
    EXPECT_EQ(cli.code, kExitSuccess) << cli.console.err << cli.console.out;
    EXPECT_THAT(cli.console.out, HasSubstr(run == 0 ? "9 added, 0 already there" : "0 added, 9 already there"));
    // What was adjusted is told of the messages added, and only of them.
    EXPECT_EQ(cli.console.out.find("re-encoded") != std::string::npos, run == 0);
    EXPECT_EQ(cli.console.out.find("stored as unread") != std::string::npos, run == 0);
    EXPECT_EQ(cli.console.out.find("NUL bytes as byte 0x80") != std::string::npos, run == 0);
    EXPECT_THAT(cli.console.out + cli.console.err, Not(HasSubstr(Server().password)));
  }

  const std::map<std::u16string, std::vector<Held>> held = ReadBack(user);
  std::map<std::u16string, size_t> taken;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(held.contains(c.mailbox));
    const std::vector<Held>& there = held.at(c.mailbox);
    ASSERT_LT(taken[c.mailbox], there.size());
    const Held& h = there[taken[c.mailbox]++];  // in the walk's order: file names sorted
    std::string expected = ImapForm(c.content);
    if (std::string_view(c.file) == "Work/long.eml") {
      MessageToStore message(RealFileSystem());
      std::u16string error;
      ASSERT_EQ(message.Prepare(tree.Path(c.file), 0, error), MessageToStore::Outcome::kStore);
      std::string mended;
      message.CopyTo([&](const unsigned char* d, size_t n) { return mended.append(reinterpret_cast<const char*>(d), n), true; }, error);
      EXPECT_NE(mended, c.content);
      EXPECT_EQ(mended.find(std::string(10241, 'w')), std::string::npos);
      expected = ImapForm(mended);
    }
    EXPECT_EQ(h.bytes, expected);
    EXPECT_EQ(h.seen, c.seen);
    const size_t at = c.content.find("Date: ") + 6;
    const int64_t date =
        ParseMessageDate(c.content.substr(at, c.content.find_first_of("\r\n", at) - at)).value();
    if (date < std::time(nullptr)) {
      EXPECT_EQ(h.internal_date, date);
    }
  }
  for (const auto& [mailbox, there] : held) EXPECT_EQ(taken[mailbox], there.size()) << Narrow(mailbox);
}

TEST(TreeUpload, ARunStoppedHalfWayIsCompletedByTheNextWithNothingTwice) {
  for (const int stop_after : {1, 7}) {
    SCOPED_TRACE(stop_after);
    const std::string user = "mailsheaf-" + std::to_string(stop_after == 1 ? 2 : 3);
    Tree tree;
    for (int n = 0; n < 12; ++n) {
      tree.Add((n % 2 ? "A/" : "B/C/") + std::to_string(n) + ".eml",
               Numbered("Subject: n\r\n", n, 30000));
    }
    UploadReport first;
    EXPECT_FALSE(UploadTree(user, tree, first, [&](const UploadProgress& p, Uploader& u) {
      if (p.messages_done >= static_cast<uint64_t>(stop_after)) u.Stop();
    }));
    EXPECT_TRUE(first.stopped);
    // Nothing is sent after the stop: what was staged is not added, and said.
    const int64_t added = first.Total(&UploadReport::Mailbox::added);
    EXPECT_LT(added, 12);
    EXPECT_EQ(first.Total(&UploadReport::Mailbox::queued), added + first.NotAdded());
    UploadReport second;
    EXPECT_TRUE(UploadTree(user, tree, second)) << Narrow(second.failure);
    EXPECT_EQ(second.Total(&UploadReport::Mailbox::added), 12 - added);
    EXPECT_EQ(second.Total(&UploadReport::Mailbox::already_there), added);
    EXPECT_EQ(second.Total(&UploadReport::Mailbox::server_count), 12);
  }
}

TEST(TreeUpload, RoutesRefusalsAndFailuresGiveTheServersWordsAndTheirExitCodes) {
  Tree tree;
  for (int n = 0; n < 6; ++n) tree.Add("Big/" + std::to_string(n) + ".eml", Numbered("", n, 20000));
  Tree secrets;
  secrets.Add("password.txt", Server().password + "\r\nnot this line\n");
  const std::u16string pin = Utf8ToUtf16(Server().fingerprint);
  const struct {
    std::string user;
    std::string password;
    std::u16string address;
    std::u16string pin;
    bool from_file;
    int code;
    const char* words;
  } cases[] = {
      {Server().small_quota_user, Server().password, ImapsAddress(), pin, false, kExitIncomplete,
       "Quota exceeded"},
      {"mailsheaf-4", "not-" + Server().password, ImapsAddress(), pin, false, kExitFailure,
       "[AUTHENTICATIONFAILED]"},
      {"mailsheaf-4", Server().password, ImapsAddress(), u"", false, kExitFailure,
       "is not trusted"},
      {"mailsheaf-4", Server().password, StartTlsAddress(), pin, true, kExitSuccess, "6 added"},
      {"mailsheaf-4", Server().password,
       u"imap+plain://" + Utf8ToUtf16(TestHost()) + u":" + DecimalText(Server().imap_port), u"",
       false, kExitSuccess, "0 added, 6 already there"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    std::vector<std::u16string> args = {u"--imap", c.address, u"--user", Utf8ToUtf16(c.user)};
    if (!c.pin.empty()) args.insert(args.end(), {u"--trust-certificate", c.pin});
    if (c.from_file) args.insert(args.end(), {u"--password-file", secrets.Path("password.txt")});
    args.push_back(tree.Root());
    const Cli cli = RunCli(args, c.from_file ? "" : c.password);
    EXPECT_EQ(cli.code, c.code) << cli.console.err;
    EXPECT_THAT(cli.console.out + cli.console.err, HasSubstr(c.words));
    if (c.code == kExitIncomplete) {  // the quota: said before, and nothing sent only to be refused
      EXPECT_THAT(cli.console.out, HasSubstr("not all of them will fit"));
      EXPECT_THAT(cli.console.out, HasSubstr("not sent: the account is over its quota"));
    }
    EXPECT_THAT(cli.console.out + cli.console.err, Not(HasSubstr(c.password)));
  }
}

}  // namespace
}  // namespace mailsheaf::upload_test
