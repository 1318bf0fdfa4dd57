// The report is true for the archive beside it, whatever happens: two packers writing to one
// destination at once, a report that cannot be written, files and folders that are no news.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>
#include <thread>

#include "tests/archive/test_helpers_posix.h"

namespace mailsheaf::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kMessage = "Subject: x\nDate: Tue, 3 Mar 2020 10:00:00 +0000\n\nbody\n";
const std::string kUnread = "Status: O\n" + kMessage;

std::string Pack(const std::string& source, const std::string& destination, int* code = nullptr) {
  std::string out;
  const int status = RunCommand(Quote(MAILSHEAF_PACK_PATH) + " " + Quote(source) + " " +
                                    Quote(destination) + " 2>&1",
                                &out);
  if (code) *code = status;
  return out;
}

size_t Messages(const std::string& archive) {
  std::string listing;
  RunCommand("tar tzf " + Quote(archive), &listing);
  size_t n = 0;
  for (size_t at = listing.find(".eml\n"); at != std::string::npos; at = listing.find(".eml\n", at + 1)) ++n;
  return n;
}

std::string Read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(ReportPair, TwoWritesToOneDestinationAtOnceLeaveAnArchiveBesideItsOwnReport) {
  TempTree tree;
  // Each tree tells its own count of unread messages, and holds that many.
  for (int n = 0; n < 1; ++n) tree.Write("a/" + std::to_string(n) + ".eml", kUnread);
  for (int n = 0; n < 3; ++n) tree.Write("b/" + std::to_string(n) + ".eml", kUnread);
  const std::string archive = tree.Path("out/mail.tgz");
  const std::string report = tree.Path("out/mail - report.txt");
  tree.Folder("out");
  for (int attempt = 0; attempt < 40; ++attempt) {
    SCOPED_TRACE(attempt);
    std::thread other([&] { Pack(tree.Path("b"), archive); });
    Pack(tree.Path("a"), archive);
    other.join();
    const size_t held = Messages(archive);
    const std::string said = Read(report);
    EXPECT_THAT(said, HasSubstr("with " + std::to_string(held) + (held == 1 ? " message" : " messages")));
  }
}

TEST(ReportPair, WhatTheReportSaysAndLeavesUnsaid) {
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> said;
    std::vector<std::string> unsaid;
    std::vector<std::string> stored;
    std::vector<std::string> not_stored;
  } cases[] = {
      {"an unpacked Zimbra export's item data",
       {{"Inbox/1.eml", kUnread}, {"Inbox/1.eml.meta", "{}"}, {"Inbox/2.eml", kMessage},
        {"Inbox/2.eml.meta", "{}"}},
       {"2 .meta (Zimbra's own data about an item)"},
       {"look like mail", "1.eml.meta\""},
       {"Inbox/1.eml"},
       {"1.eml.meta"}},
      {"folders for other things than mail that hold no message",
       {{"Contacts/Old/notes.txt", "x"}, {"Calendar/readme.txt", "y"}, {"Tasks/t.eml", kUnread}},
       {"\"Tasks\" -> \"Tasks (mail)\""},
       {"Contacts", "Calendar"},
       {"Tasks (mail)/t.eml"},
       {"Contacts (mail)/", "Calendar (mail)/"}},
      {"a name with a byte of the C1 range, written out",
       {{"Entw\x81rfe/r.eml", kUnread}},
       {"\"Entw\\x81rfe\""},
       {"Entw\xC2\x81rfe\""},
       {},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempTree tree;
    for (const auto& [path, content] : c.files) tree.Write("src/" + path, content);
    int code = -1;
    const std::string out = Pack(tree.Path("src"), tree.Path("mail.tgz"), &code);
    EXPECT_EQ(code, 0) << out;
    for (const std::string& s : c.said) EXPECT_THAT(out, HasSubstr(s));
    for (const std::string& s : c.unsaid) EXPECT_THAT(out, Not(HasSubstr(s)));
    std::string listing;
    RunCommand("tar tzf " + Quote(tree.Path("mail.tgz")), &listing);
    for (const std::string& s : c.stored) EXPECT_THAT(listing, HasSubstr(s));
    for (const std::string& s : c.not_stored) EXPECT_THAT(listing, Not(HasSubstr(s)));
  }
}

// A report that cannot be written is a failure; the report of an earlier archive never stays
// beside the new one; a file time in the first day of 1970 is a placeholder, not a date.
TEST(ReportPair, AnArchiveNeverStandsBesideAnotherArchivesReport) {
  TempTree tree;
  tree.Write("src/a.eml", kUnread);
  const std::string archive = tree.Path("mail.tgz");
  const std::string report = tree.Path("mail - report.txt");
  tree.Folder("mail - report.txt");  // not a file of ours: the report cannot go there
  int code = -1;
  std::string out = Pack(tree.Path("src"), archive, &code);
  EXPECT_NE(code, 0) << out;
  EXPECT_THAT(out, HasSubstr("its report could not be"));
  std::filesystem::remove(report);

  tree.Write("mail - report.txt", "Mailsheaf wrote the archive \"old\" with 9 messages\n");
  tree.Write("src/a.eml", "Subject: undated, nothing to tell\n\nbody\n");
  const struct timespec one_second[2] = {{1, 0}, {1, 0}};
  ::utimensat(AT_FDCWD, tree.Path("src/a.eml").c_str(), one_second, 0);
  out = Pack(tree.Path("src"), archive, &code);
  EXPECT_EQ(code, 0) << out;
  EXPECT_FALSE(std::filesystem::exists(report));
  std::string listing;
  RunCommand("tar tzvf " + Quote(archive) + " --full-time --utc", &listing);
  EXPECT_THAT(listing, Not(HasSubstr("1970-01-01")));
}

}  // namespace
}  // namespace mailsheaf::testing
