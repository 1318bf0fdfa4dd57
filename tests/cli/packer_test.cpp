#include "cli/packer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/text.h"
#include "cli/progress_text.h"
#include "tests/archive/support/fake_file_system.h"
#include "tests/archive/support/tar_reader.h"

namespace mailsheaf {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::FakeFileSystem;

class FakeConsole final : public Console {
 public:
  bool terminal = false;
  int width = 60;
  std::string out;
  std::string err;
  bool IsTerminal() const override { return terminal; }
  int Width() const override { return width; }
  void Out(const std::u16string& text) override { out += Utf16ToUtf8(text); }
  void Err(const std::u16string& text) override { err += Utf16ToUtf8(text); }
};

struct Run {
  int code = -1;
  FakeConsole console;
};

std::vector<std::u16string> Args(std::initializer_list<const char16_t*> list) {
  return std::vector<std::u16string>(list.begin(), list.end());
}

void MakeTree(FakeFileSystem& fs) {
  fs.AddFile(u"/mail/a.eml", "Date: Thu, 22 Aug 2002 07:36:16 -0400\n\n" + std::string(5000, 'a'));
  std::string b = "Subject: b\n\n";
  while (b.size() < 300000) b += std::string(72, 'b') + "\n";
  fs.AddFile(u"/mail/Inbox/b.eml", b);
  fs.AddFile(u"/mail/Inbox/Old/c.EML", "c");
  fs.AddFile(u"/mail/desktop.ini", "x");
  fs.AddFile(u"/out/mail.tgz", "the previous archive");
}

TEST(Packer, HelpAndVersionAndUsageErrors) {
  FakeFileSystem fs;
  std::atomic<bool> stop{false};
  FakeConsole help;
  EXPECT_EQ(RunPacker(Args({u"--help"}), help, fs, 1, stop), kExitSuccess);
  EXPECT_THAT(help.out, HasSubstr("Usage: mailsheaf-pack SOURCE_FOLDER DEST.tgz"));
  FakeConsole version;
  EXPECT_EQ(RunPacker(Args({u"a", u"--version"}), version, fs, 1, stop), kExitSuccess);
  EXPECT_EQ(version.out, "mailsheaf-pack " MAILSHEAF_EXPECTED_VERSION "\n");

  for (const auto& args : {Args({}), Args({u"/mail"}), Args({u"/a", u"/b", u"/c"}),
                           Args({u"--fast", u"/a", u"/b"})}) {
    FakeConsole console;
    EXPECT_EQ(RunPacker(args, console, fs, 1, stop), kExitUsage);
    EXPECT_EQ(console.err.rfind("mailsheaf-pack: ", 0), 0u) << console.err;
    EXPECT_EQ(console.err.find('\n'), console.err.size() - 1) << "one line";
    EXPECT_TRUE(console.out.empty());
  }
  // After "--" a name that starts with a dash is a path.
  FakeConsole dashed;
  EXPECT_EQ(RunPacker(Args({u"--", u"-mail", u"/out/x.tgz"}), dashed, fs, 1, stop), kExitFailure);
  EXPECT_THAT(dashed.err, HasSubstr("/work/-mail/ does not exist"));
}

TEST(Packer, PacksAndReportsWhatItStoredInPlainLines) {
  FakeFileSystem fs;
  MakeTree(fs);
  std::atomic<bool> stop{false};
  FakeConsole console;
  ASSERT_EQ(RunPacker(Args({u"/mail/", u"/out/mail.tgz"}), console, fs, 2, stop), kExitSuccess)
      << console.err;
  const std::string archive = fs.Find(u"/out/mail.tgz")->content;
  const auto items = testing::ReadArchiveBytes(archive);
  EXPECT_EQ(items.size(), 5u);
  EXPECT_THAT(console.out, HasSubstr("3 messages and 2 folders stored; archive size " +
                                     std::to_string(archive.size()) + " bytes"));
  EXPECT_THAT(console.out, HasSubstr("/out/mail.tgz\n"));
  EXPECT_EQ(console.out.find('\r'), std::string::npos) << "no live display when redirected";
  EXPECT_THAT(console.out, HasSubstr("\n100%"));
  EXPECT_TRUE(console.err.empty());
}

TEST(Packer, PrintsWhatItAdjustedAfterItsSummaryAndWritesItBesideTheArchive) {
  FakeFileSystem fs;
  fs.AddFile(u"/mail/Contacts/a.eml", "Subject: a\n\nbody\n");
  fs.AddFile(u"/mail/Inbox/._b.eml", std::string("\x00\x05\x16\x07 resource", 13));
  fs.AddFolder(u"/out");
  std::atomic<bool> stop{false};
  FakeConsole console;
  ASSERT_EQ(RunPacker(Args({u"/mail", u"/out/mail.tgz"}), console, fs, 1, stop), kExitSuccess)
      << console.err;
  const size_t summary = console.out.find("1 messages and 2 folders stored");
  const size_t report = console.out.find("\"Contacts\" -> \"Contacts (mail)\"");
  ASSERT_NE(summary, std::string::npos) << console.out;
  ASSERT_NE(report, std::string::npos) << console.out;
  EXPECT_LT(summary, report) << "the report follows the summary line";
  EXPECT_THAT(console.out, HasSubstr("/mail/Inbox/._b.eml\": it is a resource file"));
  EXPECT_THAT(console.out, HasSubstr("This report is also in /out/mail - report.txt"));
  const testing::FakeFileSystem::Node* file = fs.Find(u"/out/mail - report.txt");
  ASSERT_NE(file, nullptr);
  EXPECT_THAT(file->content, HasSubstr("\"Contacts\" -> \"Contacts (mail)\""));
  EXPECT_THAT(file->content, HasSubstr("/mail/Inbox/._b.eml"));

  // Nothing to tell: no report, and ours from the earlier run beside the same archive is gone,
  // since it no longer describes it.
  fs.AddFile(u"/tidy/Inbox/b.eml", "Subject: b\n\nbody\n");
  FakeConsole quiet;
  ASSERT_EQ(RunPacker(Args({u"/tidy", u"/out/mail.tgz"}), quiet, fs, 1, stop), kExitSuccess);
  EXPECT_EQ(quiet.out.find("report"), std::string::npos);
  EXPECT_THAT(fs.NamesIn(u"/out"), ElementsAre(u"mail.tgz"));

  // A file we did not write is never replaced, nor removed; a report that cannot be written
  // is a failure.
  fs.AddFile(u"/out/mail - report.txt", "my own notes");
  FakeConsole again;
  ASSERT_EQ(RunPacker(Args({u"/tidy", u"/out/mail.tgz"}), again, fs, 1, stop), kExitSuccess);
  ASSERT_EQ(RunPacker(Args({u"/mail", u"/out/mail.tgz"}), again, fs, 1, stop), kExitFailure);
  EXPECT_EQ(fs.Find(u"/out/mail - report.txt")->content, "my own notes");
  EXPECT_THAT(again.err, HasSubstr("Mailsheaf did not write is at /out/mail - report.txt"));
}

TEST(Packer, DrawsALiveLineOnATerminal) {
  FakeFileSystem fs;
  MakeTree(fs);
  std::atomic<bool> stop{false};
  FakeConsole console;
  console.terminal = true;
  console.width = 70;
  ASSERT_EQ(RunPacker(Args({u"/mail", u"/out/mail.tgz"}), console, fs, 1, stop), kExitSuccess);
  EXPECT_THAT(console.out, HasSubstr("\r[####################] 100%"));
  const size_t last = console.out.rfind('\r');
  const size_t end = console.out.find('\n', last);
  EXPECT_EQ(end - last - 1, 69u) << "one column short of the width, padded";
  EXPECT_THAT(console.out.substr(end + 1), HasSubstr("3 messages and 2 folders stored"));
}

TEST(Packer, FailureGivesOneLineAndKeepsTheOldArchive) {
  FakeFileSystem fs;
  MakeTree(fs);
  fs.Find(u"/mail/Inbox/b.eml")->unreadable = true;
  std::atomic<bool> stop{false};
  FakeConsole console;
  EXPECT_EQ(RunPacker(Args({u"/mail", u"/out/mail.tgz"}), console, fs, 2, stop), kExitFailure);
  EXPECT_EQ(console.err,
            "mailsheaf-pack: Cannot open the message /mail/Inbox/b.eml: Permission denied\n");
  EXPECT_THAT(fs.NamesIn(u"/out"), ElementsAre(u"mail.tgz"));
  EXPECT_EQ(fs.Find(u"/out/mail.tgz")->content, "the previous archive");
}

TEST(Packer, InterruptLeavesNoPartialArchive) {
  for (unsigned threads : {1u, 2u}) {
    FakeFileSystem fs;
    MakeTree(fs);
    std::atomic<bool> stop{false};
    fs.on_write = [&stop] { stop = true; };  // Ctrl+C as soon as the archive is being written
    FakeConsole console;
    EXPECT_EQ(RunPacker(Args({u"/mail", u"/out/mail.tgz"}), console, fs, threads, stop),
              kExitInterrupted);
    EXPECT_EQ(console.err, "mailsheaf-pack: interrupted; no archive was written.\n");
    EXPECT_THAT(fs.NamesIn(u"/out"), ElementsAre(u"mail.tgz"));
    EXPECT_EQ(fs.Find(u"/out/mail.tgz")->content, "the previous archive");
  }
}

TEST(ProgressText, BytesPathsAndTheLiveLine) {
  EXPECT_EQ(ByteText(0), u"0 B");
  EXPECT_EQ(ByteText(1023), u"1023 B");
  EXPECT_EQ(ByteText(1024), u"1.0 KiB");
  EXPECT_EQ(ByteText(1536 * 1024), u"1.50 MiB");
  EXPECT_EQ(ByteText(300ull << 20), u"300.0 MiB");
  EXPECT_EQ(ByteText(5ull << 30), u"5.00 GiB");

  EXPECT_EQ(FitText(u"/short.eml", 20), u"/short.eml");
  const std::u16string path = u"/home/user/mail/Inbox/2002/August/a-long-message-name.eml";
  const std::u16string fitted = FitText(path, 30);
  EXPECT_EQ(fitted.size(), 30u);
  EXPECT_EQ(fitted.substr(0, 9), path.substr(0, 9));
  EXPECT_EQ(fitted.substr(fitted.size() - 18), path.substr(path.size() - 18));
  EXPECT_NE(fitted.find(u"..."), std::u16string::npos);

  const std::u16string line = ProgressLine(42, 5 << 20, 2 << 20, path, 80);
  EXPECT_EQ(line.size(), 80u);
  EXPECT_EQ(Utf16ToUtf8(line.substr(0, 49)),
            "[########............]  42%  5.00 MiB  2.00 MiB/s");
  EXPECT_EQ(ProgressLine(250, 0, 0, u"", 30).substr(0, 27), u"[####################] 100%");
}

}  // namespace
}  // namespace mailsheaf
