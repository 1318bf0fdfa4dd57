// The uploader against the scripted server: servers as people run them, resume across runs,
// drops, stops. The source is a tree held in memory; the journal a string.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "base/text.h"
#include "tests/upload/fake_imap_server.h"
#include "upload/uploader.h"

namespace mailsheaf::upload_test {
namespace {

using ::testing::HasSubstr;

std::string Narrow(const std::u16string& text) { return Utf16ToUtf8(text); }

struct File {
  std::string folder;  // "/"-separated, "" for the chosen folder
  std::string name;
  std::string bytes;   // CRLF line ends: as the server keeps it
  bool seen = true;
};

class MemorySource final : public UploadSource {
 public:
  std::vector<File> files;  // grouped by folder, in walk order
  void Count(uint64_t& messages, uint64_t& bytes) override {
    messages = files.size();
    bytes = 0;
    for (const File& f : files) bytes += f.bytes.size();
  }
  bool Walk(UploadVisitor& visitor, std::u16string&) override {
    std::string folder = "\x01";
    for (const File& f : files) {
      if (f.folder != folder) {
        folder = f.folder;
        if (!visitor.OnFolder({Utf8ToUtf16(folder), Utf8ToUtf16(folder)})) return false;
      }
      const std::u16string relative = Utf8ToUtf16((folder.empty() ? "" : folder + "/") + f.name);
      const SourceFile file{relative, relative, f.bytes.size(), 1000};
      if (visitor.Known(file)) continue;
      current_ = &f;
      SourceMessage m;
      m.time = 1583229600;
      m.seen = f.seen;
      m.size = f.bytes.size();
      const size_t id = f.bytes.find("Message-ID: ");
      if (id != std::string::npos) m.message_id = f.bytes.substr(id + 12, f.bytes.find('\r', id) - id - 12);
      if (!visitor.OnMessage(file, m)) return false;
    }
    return true;
  }
  bool CopyTo(const Put& put, std::u16string&) override {
    return put(reinterpret_cast<const unsigned char*>(current_->bytes.data()), current_->bytes.size());
  }
  void Settle(uint64_t, bool) override {}

 private:
  const File* current_ = nullptr;
};

class MemoryJournal final : public JournalFile {
 public:
  std::string text;
  bool ReadLines(const std::function<void(std::string_view)>& line, std::u16string&) override {
    size_t at = 0;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
      line(std::string_view(text).substr(at, end - at));
    }
    if (at < text.size()) line(std::string_view(text).substr(at));
    return true;
  }
  bool Append(std::string_view bytes, std::u16string&) override {
    text += bytes;
    return true;
  }
};

class StopAfter final : public UploadEvents {
 public:
  std::chrono::steady_clock::time_point when = std::chrono::steady_clock::time_point::max();
  void Progress(const UploadProgress&) override {}
  bool StopRequested() override { return std::chrono::steady_clock::now() >= when; }
};

std::string Message(int n, const std::string& id = "") {
  return "Subject: " + std::to_string(n) + "\r\n" +
         (id.empty() ? "" : "Message-ID: <" + id + "@test>\r\n") +
         "Date: Tue, 3 Mar 2020 10:00:00 +0000\r\n\r\nbody " + std::to_string(n) + "\r\n";
}

struct Outcome {
  bool finished = false;
  UploadReport report;
  std::string text;
};

Outcome Upload(FakeImapServer& server, MemorySource& source, MemoryJournal* journal = nullptr,
               UploadEvents* events = nullptr, ImapLimits limits = {},
               ImapSecurity security = ImapSecurity::kTls) {
  UploadOptions options;
  options.server.host = "fake";
  options.server.security = security;
  options.user = "u";
  options.password = "p";
  options.reconnect_pause_ms = 1;
  options.stop_grace_ms = 200;
  options.limits = limits;
  options.journal = journal;
  Uploader uploader(events, [&server] { return server.Connect(); });
  Outcome out;
  out.finished = uploader.Run(source, options, out.report);
  out.text = Narrow(UploadReportText(out.report, u"\n"));
  // Every message queued ends in exactly one kind.
  for (const UploadReport::Mailbox& m : out.report.mailboxes) {
    EXPECT_EQ(m.queued, m.added + m.already_there + static_cast<int64_t>(m.refused.size() +
                                                                           m.not_added.size()))
        << out.text;
  }
  return out;
}

TEST(Uploader, ServersAsPeopleRunThemTakeEveryMessageWhereItBelongs) {
  const struct {
    const char* name;
    std::function<void(FakeImapServer&)> set_up;
    std::map<std::string, size_t> expected;  // messages per mailbox
    const char* words;                       // in the report
  } cases[] = {
      {"Courier: no append into a mailbox open read-only, no UNSELECT",
       [](FakeImapServer& s) {
         s.read_only_refuses_append = true;
         s.capabilities = "IMAP4rev1 AUTH=PLAIN UIDPLUS MULTIAPPEND";
       },
       {{"INBOX", 2}, {"Sent", 1}, {"v1.2.3", 1}}, "4 added"},
      {"PREAUTH, no SASL-IR, no MULTIAPPEND, no LITERAL+",
       [](FakeImapServer& s) {
         s.greeting = "* PREAUTH welcome";
         s.capabilities = "IMAP4rev1 AUTH=PLAIN UIDPLUS";
       },
       {{"INBOX", 2}, {"Sent", 1}, {"v1.2.3", 1}}, "4 added"},
      {"no UIDPLUS: resumed by content, and said",
       [](FakeImapServer& s) { s.capabilities = "IMAP4rev1 AUTH=PLAIN MULTIAPPEND LITERAL+"; },
       {{"INBOX", 2}, {"Sent", 1}, {"v1.2.3", 1}}, "no UIDPLUS"},
      {"every folder below INBOX. with '.' between levels, no SPECIAL-USE",
       [](FakeImapServer& s) {
         s.prefix = "INBOX.";
         s.delimiter = '.';
       },
       {{"INBOX", 2}, {"INBOX.Sent", 1}, {"INBOX.v1_2_3", 1}},
       "\"v1.2.3\" is named \"v1_2_3\" here"},
      {"SPECIAL-USE chosen over a name",
       [](FakeImapServer& s) {
         s.mailboxes["Sent Messages"].special_use = "\\Sent";
         s.mailboxes["Sent"];
       },
       {{"INBOX", 2}, {"Sent Messages", 1}, {"v1.2.3", 1}}, "4 added"},
      {"an existing folder in another case (all of Unicode) takes the tree's",
       [](FakeImapServer& s) { s.mailboxes["V1.2.3"]; },
       {{"INBOX", 2}, {"Sent", 1}, {"V1.2.3", 1}}, "server takes names that differ only in case"},
      {"a batch refused whole, its words ending like a literal, goes again one by one",
       [](FakeImapServer& s) {
         s.append_answer = [](int n, const std::string&) {
           return n == 1 ? std::string("NO [LIMIT] too many at once {2}") : std::string();
         };
       },
       {{"INBOX", 2}, {"Sent", 1}, {"v1.2.3", 1}}, "4 added"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeImapServer server;
    c.set_up(server);
    MemorySource source;
    source.files = {{"", "a.eml", Message(1, "a")},
                    {"", "b.eml", Message(2, "b")},
                    {"Sent", "s.eml", Message(3, "s")},
                    {"v1.2.3", "v.eml", Message(4)}};
    const Outcome out = Upload(server, source);
    EXPECT_TRUE(out.finished) << out.text;
    EXPECT_THAT(out.text, HasSubstr(c.words));
    for (const auto& [mailbox, count] : c.expected) {
      EXPECT_EQ(server.Messages(mailbox).size(), count) << mailbox << "\n" << out.text;
    }
    EXPECT_EQ(server.Messages("INBOX")[0].bytes, Message(1, "a"));
  }
}

TEST(Uploader, LookAlikesFromTwoFoldersArriveOnceEachRunAfterRun) {
  for (const bool uidplus : {true, false}) {
    SCOPED_TRACE(uidplus);
    FakeImapServer server;
    if (!uidplus) server.capabilities = "IMAP4rev1 AUTH=PLAIN MULTIAPPEND LITERAL+";
    // The same Message-ID, date and size, from the chosen folder and from Inbox/; work/ and
    // Work/ meet in one mailbox too.
    MemorySource source;
    source.files = {{"", "x.eml", Message(1, "same")},
                    {"Inbox", "x.eml", Message(2, "same")},
                    {"Work", "y.eml", Message(3)},
                    {"work", "y.eml", Message(4)}};
    MemoryJournal journal;
    const Outcome first = Upload(server, source, &journal);
    EXPECT_THAT(first.text, HasSubstr("4 added, 0 already there"));
    const Outcome second = Upload(server, source, &journal);
    EXPECT_THAT(second.text, HasSubstr("0 added, 4 already there"));
    // A look-alike added later that sorts first is sent, and only it.
    source.files.insert(source.files.begin() + 1, {"Inbox", "0.eml", Message(5, "same")});
    const Outcome third = Upload(server, source, &journal);
    EXPECT_THAT(third.text, HasSubstr("1 added, 4 already there"));
    EXPECT_EQ(server.Messages("INBOX").size(), 3u);
    EXPECT_EQ(server.Messages("Work").size(), 2u);
    // A run killed before its journal lines were written: what it sent is found by content.
    journal.text.resize(journal.text.rfind("\ne ") + 1);
    const Outcome after_kill = Upload(server, source, &journal);
    EXPECT_THAT(after_kill.text, HasSubstr("0 added, 5 already there"));
    // Without any journal, an earlier import answers for as many messages as it holds.
    server.mailboxes["INBOX"].messages.pop_back();
    const Outcome fresh = Upload(server, source);
    EXPECT_THAT(fresh.text, HasSubstr("1 added, 4 already there"));
    EXPECT_EQ(server.Messages("INBOX").size(), 3u);
  }
}

TEST(Uploader, DropsAreMadeGoodWithNothingTwiceUpToTheLimit) {
  const struct {
    int drops;  // the connection drops at as many APPENDs, one after another
    bool finished;
    const char* words;
  } cases[] = {{1, true, "made again 1 time."}, {5, true, "made again 5 times."},
               {6, false, "The connection dropped 6 times"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.drops);
    FakeImapServer server;
    server.capabilities = "IMAP4rev1 AUTH=PLAIN UIDPLUS LITERAL+";
    int seen = 0;
    server.drop = [&](const std::string& command) {
      // After the server stored the message: its answer is what the drop loses.
      if (command.find(" APPEND ") == std::string::npos || ++seen > c.drops) return false;
      const std::string box = seen <= 4 ? "INBOX" : "F" + std::to_string(seen);
      server.mailboxes[box].messages.push_back(
          {server.mailboxes[box].uid_next++, Message(seen, "m" + std::to_string(seen)), "\\Seen",
           "03-Mar-2020 10:00:00 +0000"});
      return true;
    };
    // Four into the Inbox, then a folder each: a drop is found as the next folder is entered.
    MemorySource source;
    for (int n = 1; n <= 8; ++n) {
      const std::string id = "m" + std::to_string(n);
      source.files.push_back({n <= 4 ? "" : "F" + std::to_string(n), std::to_string(n) + ".eml",
                              Message(n, id)});
    }
    const Outcome out = Upload(server, source);
    EXPECT_EQ(out.finished, c.finished);
    EXPECT_THAT(out.text, HasSubstr(c.words));
    size_t held = 0;
    for (const auto& [name, box] : server.mailboxes) {
      EXPECT_LE(box.messages.size(), name == "INBOX" ? 4u : 1u) << name;
      held += box.messages.size();
    }
    if (c.finished) {
      EXPECT_EQ(held, 8u) << out.text;
    }
  }
}

TEST(Uploader, AStopIsHeardWhileTheServerStallsAndNothingIsSentAfterIt) {
  FakeImapServer server;
  server.stall = [](const std::string& command) {
    return command.find(" APPEND ") != std::string::npos;
  };
  MemorySource source;
  for (int n = 1; n <= 100; ++n) source.files.push_back({"", std::to_string(n) + ".eml", Message(n)});
  // Read while the Inbox's batch waits for its answer, before their mailbox is made.
  for (int n = 1; n <= 3; ++n) source.files.push_back({"Work", std::to_string(n) + ".eml", Message(100 + n)});
  StopAfter events;
  events.when = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  const auto start = std::chrono::steady_clock::now();
  const Outcome out = Upload(server, source, nullptr, &events);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(out.finished);
  EXPECT_TRUE(out.report.stopped);
  EXPECT_EQ(out.report.Total(&UploadReport::Mailbox::added), 0);
  EXPECT_THAT(out.text, HasSubstr("not added: \"64.eml\": the run was stopped before the server "
                                  "confirmed it; run the same command again"));
  EXPECT_THAT(out.text, HasSubstr("not added: \"Work/2.eml\": the run was stopped before it was sent"));
  EXPECT_EQ(out.report.NotAdded(), 103);
  EXPECT_EQ(std::count_if(server.commands.begin(), server.commands.end(),
                          [](const std::string& c) { return c.find(" CREATE ") != std::string::npos; }),
            0);
  // The first batch went before the stop; the second, staged meanwhile, never did.
  EXPECT_EQ(std::count_if(server.commands.begin(), server.commands.end(),
                          [](const std::string& c) { return c.find(" APPEND ") != std::string::npos; }),
            1);
}

TEST(Uploader, WhatTheServerSendsCannotGrowWithoutBound) {
  FakeImapServer server;
  server.fetch_flood = 5000;
  ImapLimits limits;
  limits.max_messages = 1000;
  MemorySource source;
  source.files = {{"", "a.eml", Message(1)}, {"Work", "w.eml", Message(2)}};
  const Outcome out = Upload(server, source, nullptr, nullptr, limits);
  EXPECT_TRUE(out.finished) << out.text;
  EXPECT_THAT(out.text, HasSubstr("more than 1000 messages there"));
  // The flooded Inbox takes nothing; Work, made by the run, is known empty and never asked.
  EXPECT_EQ(server.Messages("INBOX").size(), 0u);
  EXPECT_EQ(out.report.NotAdded(), 1);
  EXPECT_EQ(server.Messages("Work").size(), 1u);
}

// What the server will not do costs no more than it must: an answer that cannot be read ends
// the run once, with the server's words and no reconnect; a folder it will not make costs its
// own messages; what cannot be trusted while connecting sends nothing.
TEST(Uploader, WhatTheServerWillNotDoCostsNoMoreThanItMust) {
  const auto answering = [](std::string command_part, std::string answer) {
    return [=](FakeImapServer& s) {
      s.garble = [=](const std::string& command) {
        if (command.find(command_part) == std::string::npos) return std::string();
        return answer[0] == '*' ? answer : command.substr(0, command.find(' ')) + answer;
      };
    };
  };
  const struct {
    const char* what;
    std::function<void(FakeImapServer&)> set_up;
    ImapSecurity security;
    bool finished;
    const char* words;
  } cases[] = {
      {"an unreadable LIST", answering(" LIST ", "* LIST (\\Noselect\r\n"), ImapSecurity::kTls,
       false, "\"* LIST (\\Noselect\""},
      {"a refused CREATE", answering(" CREATE ", " NO [CANNOT] no dots here\r\n"),
       ImapSecurity::kTls, true, "1 added, 0 already there, 0 refused, 1 not added"},
      {"no STARTTLS on imap://", [](FakeImapServer& s) { s.capabilities = "IMAP4rev1 AUTH=PLAIN"; },
       ImapSecurity::kStartTls, false, "does not offer STARTTLS"},
      {"bytes after STARTTLS",
       [](FakeImapServer& s) {
         s.capabilities = "IMAP4rev1 STARTTLS AUTH=PLAIN";
         s.after_starttls = "* OK injected\r\n";
       },
       ImapSecurity::kStartTls, false, "sent data after agreeing to STARTTLS"},
      {"a greeting of BYE", [](FakeImapServer& s) { s.greeting = "* BYE too busy"; },
       ImapSecurity::kTls, false, "did not greet: \"BYE too busy\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeImapServer server;
    c.set_up(server);
    MemorySource source;
    source.files = {{"", "a.eml", Message(1)}, {"v1.2.3", "v.eml", Message(2)}};
    const Outcome out = Upload(server, source, nullptr, nullptr, {}, c.security);
    EXPECT_EQ(out.finished, c.finished) << out.text;
    EXPECT_THAT(out.text, HasSubstr(c.words));
    EXPECT_EQ(out.report.reconnects, 0);
    EXPECT_EQ(server.connections, 1);
  }
}

}  // namespace
}  // namespace mailsheaf::upload_test
