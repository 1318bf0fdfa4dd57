#include "tests/upload/trap_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "base/text.h"

namespace mailsheaf::upload_test {

std::string TrapMessage(const std::string& subject, const std::string& message_id, int64_t date,
                        const std::string& body) {
  const std::string date_field = date == kMarch3   ? "Tue, 3 Mar 2020 10:00:00 +0000"
                                 : date == kMarch4 ? "Wed, 4 Mar 2020 12:00:00 +0000"
                                                   : "Mon, 1 Jan 0102 00:00:00 +0000";
  return "Subject: " + subject + "\r\n" +
         (message_id.empty() ? "" : "Message-ID: " + message_id + "\r\n") + "Date: " +
         date_field + "\r\n\r\n" + body + "\r\n";
}

std::vector<TrapFile> TrapFiles(Layout layout) {
  // Same Message-ID, date and size, from the chosen folder and from Inbox/.
  const std::string a = TrapMessage("a", "<same@trap>", kMarch3, "look-alike a");
  const std::string b = TrapMessage("b", "<same@trap>", kMarch3, "look-alike b");
  // No Message-ID, the same date and size, from Work/ and work/; unread.
  const std::string w1 = "Status: O\r\n" + TrapMessage("w", "", kMarch3, "work 1");
  const std::string w2 = "Status: O\r\n" + TrapMessage("w", "", kMarch3, "work 2");
  // A year 0102 and a file time before 1970: the date comes from Received:, or else from the
  // file's change time.
  const std::string old1 = "Received: from a by b; Wed, 4 Mar 2020 12:00:00 +0000\r\n" +
                           TrapMessage("old", "", 0, "spam 1");
  const std::string old2 = TrapMessage("old", "", 0, "spam 2");
  std::vector<TrapFile> files = {
      {"a.eml", a, "INBOX", true, kMarch3},
      {"Inbox/b.eml", b, "INBOX", true, kMarch3},
      {"Work/w.eml", w1, "Work", false, kMarch3},
      {"work/w2.eml", w2, "Work", false, kMarch3},  // one folder with Work/ on Windows
      {"Old/1.eml", old1, "Old", true, kMarch4},
      {"Old/2.eml", old2, "Old", true, 0},
      {"Sent Items/s.eml", TrapMessage("s", "<s@trap>", kMarch3, "sent"), "Sent", true, kMarch3},
      {"Deep/Deeper/d.eml", TrapMessage("d", "<d@trap>", kMarch4, "deep"), "Deep/Deeper", true,
       kMarch4},
      {"a+b/x.eml", TrapMessage("x", "<x@trap>", kMarch3, "plus"), "a+b", true, kMarch3},
  };
  // A name holding the delimiter "." changes where that is the delimiter; maildir with "/"
  // keeps "." for itself and refuses it.
  if (layout != Layout::kDefault) {
    files.push_back({"v1.2/v.eml", TrapMessage("v", "<v@trap>", kMarch3, "dots"),
                     layout == Layout::kPrefix ? "v1_2" : "v1.2", true, kMarch3});
  }
  return files;
}

void AgeTrapFiles(const Tree& tree) {
  for (const char* path : {"Old/1.eml", "Old/2.eml"}) {
    const std::filesystem::path file(tree.Path(path));
    std::filesystem::last_write_time(
        file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 70));
  }
}

Cli RunTrapCli(Layout layout, const std::string& user, const Tree& tree,
               const std::string& interrupt_when) {
  const std::u16string address =
      u"imaps://" + Utf8ToUtf16(TestHost()) + u":" + DecimalText(Server(layout).imaps_port);
  return RunCli({u"--imap", address, u"--user", Utf8ToUtf16(user), u"--trust-certificate",
                 Utf8ToUtf16(Server(layout).fingerprint), tree.Root()},
                Server(layout).password, tree.StateHome(), interrupt_when);
}

namespace {

std::string InLayout(Layout layout, const std::string& mailbox) {
  if (layout != Layout::kPrefix || mailbox == "INBOX") return mailbox;
  std::string name = "INBOX." + mailbox;
  std::replace(name.begin(), name.end(), '/', '.');
  return name;
}

}  // namespace

void ExpectHeldOnce(Layout layout, const std::string& user, const std::vector<TrapFile>& files) {
  std::map<std::string, std::vector<std::string>> expected, held;
  for (const TrapFile& f : files) {
    std::string bytes = f.bytes;
    // mbox storage keeps Status: to itself.
    if (layout == Layout::kMbox && bytes.starts_with("Status: O\r\n")) bytes.erase(0, 11);
    expected[InLayout(layout, f.mailbox)].push_back(bytes + (f.seen ? " seen" : " unseen") +
                                                    (f.date ? " " + std::to_string(f.date) : ""));
  }
  Session s(Address(ImapSecurity::kTls, false, layout), {}, user, Server(layout).password);
  for (auto& [mailbox, list] : expected) {
    MailboxStatus status;
    std::vector<StoredMessage> stored;
    ASSERT_TRUE(s.imap.Select(Utf8ToUtf16(mailbox), true, status, s.error) &&
                s.imap.FetchStoredMessages(stored, s.error))
        << mailbox << ": " << Narrow(s.error.text);
    for (const StoredMessage& m : stored) {
      std::string bytes;
      EXPECT_TRUE(s.imap.FetchMessage(m.uid, bytes, s.error)) << Narrow(s.error.text);
      const bool seen = std::find(m.flags.begin(), m.flags.end(), "\\Seen") != m.flags.end();
      // A date from the file's change time is only known to be a real one.
      const bool dated = bytes.find("0102") == std::string::npos || bytes.find("Received") != std::string::npos;
      EXPECT_GT(m.internal_date, 1000000000);
      held[mailbox].push_back(bytes + (seen ? " seen" : " unseen") +
                              (dated ? " " + std::to_string(m.internal_date) : ""));
    }
    std::sort(list.begin(), list.end());
    std::sort(held[mailbox].begin(), held[mailbox].end());
    EXPECT_EQ(held[mailbox].size(), list.size()) << mailbox;
    if (held[mailbox].size() == list.size()) {
      EXPECT_EQ(held[mailbox], list) << mailbox;
    }
  }
}

}  // namespace mailsheaf::upload_test
