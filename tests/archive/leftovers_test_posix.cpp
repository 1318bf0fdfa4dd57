// No run of the writer, however it ends, leaves a file in the destination's folder that a later
// run keeps: on the machine's own file system, with files made out of sight (O_TMPFILE) and
// with files named from the start, as where O_TMPFILE is missing.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mail/file_system_posix.h"
#include "archive/tar_archive.h"
#include "mail/temporary_name.h"
#include "base/text.h"
#include "tests/archive/archive_test_helpers.h"
#include "tests/archive/test_helpers_posix.h"

namespace mailsheaf::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

bool IsPart(const std::string& name) { return name.rfind(".mailsheaf-", 0) == 0; }

// A leftover as it is once the run that made it is long gone.
void Age(const std::string& path) {
  const struct timespec times[2] = {{std::time(nullptr) - 2 * kLeftoverAge, 0},
                                    {std::time(nullptr) - 2 * kLeftoverAge, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

int32_t Pack(FileSystem& fs, const std::string& source, const std::string& destination,
             RecordingEvents& events, std::u16string* error = nullptr) {
  TarArchive archive(&events, fs, {2, SizingWalk::kBesideTheWriter, StillClock()});
  events.archive = &archive;
  EXPECT_EQ(archive.AddRootFolder(Utf8ToUtf16(source)), 1);
  const int32_t result = archive.WriteCompressedArchive(Utf8ToUtf16(destination));
  if (error) *error = archive.LastErrorText();
  events.archive = nullptr;
  return result;
}

TEST(Leftovers, KilledPackerLeavesNothingAndTheNextRunSucceeds) {
  TempTree tree;
  WriteSlowTree(tree, "src");
  tree.Write("out/mail.tgz", "the previous archive");
  {
    PackerProcess packer(MAILSHEAF_PACK_PATH, tree.Path("src"), tree.Path("out/mail.tgz"));
    ASSERT_TRUE(packer.started());
    ASSERT_THAT(packer.FirstLine(), HasSubstr("0%")) << "the packer never started writing";
    packer.Signal(SIGKILL);
    const int status = packer.Wait();
    ASSERT_TRUE(WIFSIGNALED(status));
  }
  EXPECT_EQ(NamesIn(tree.Path("out")), std::vector<std::string>{"mail.tgz"});
  EXPECT_EQ(ReadWholeFile(tree.Path("out/mail.tgz")), "the previous archive");

  PackerProcess again(MAILSHEAF_PACK_PATH, tree.Path("src"), tree.Path("out/mail.tgz"));
  const int status = again.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(NamesIn(tree.Path("out")), std::vector<std::string>{"mail.tgz"});
  EXPECT_EQ(ReadArchiveBytes(ReadWholeFile(tree.Path("out/mail.tgz"))).size(), 12u);
}

// `mailsheaf-pack SOURCE DEST | head -1`: the reader goes after the first line; the packer
// stops printing and finishes the archive.
TEST(Leftovers, PackerWhoseOutputIsClosedFinishesTheArchive) {
  TempTree tree;
  WriteSlowTree(tree, "src");
  PackerProcess packer(MAILSHEAF_PACK_PATH, tree.Path("src"), tree.Path("out.tgz"));
  ASSERT_TRUE(packer.started());
  ASSERT_THAT(packer.FirstLine(), HasSubstr("0%"));
  packer.CloseOutput();
  const int status = packer.Wait();
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_THAT(NamesIn(tree.root()), UnorderedElementsAre("src", "out.tgz"));
  EXPECT_EQ(ReadArchiveBytes(ReadWholeFile(tree.Path("out.tgz"))).size(), 12u);
}

// A file-size limit fails the write with its reason instead of ending the process.
TEST(Leftovers, FileSizeLimitFailsTheWriteAndKeepsTheOldArchive) {
  TempTree tree;
  WriteSlowTree(tree, "src");
  tree.Write("out/mail.tgz", "the previous archive");
  std::string errors;
  const int code = RunCommand("ulimit -f 4096; exec " + Quote(MAILSHEAF_PACK_PATH) + " " +
                                  Quote(tree.Path("src")) + " " + Quote(tree.Path("out/mail.tgz")) +
                                  " 2>&1 >/dev/null",
                              &errors);
  EXPECT_EQ(code, 1);
  EXPECT_THAT(errors, HasSubstr("File too large"));
  EXPECT_EQ(NamesIn(tree.Path("out")), std::vector<std::string>{"mail.tgz"});
  EXPECT_EQ(ReadWholeFile(tree.Path("out/mail.tgz")), "the previous archive");
}

TEST(Leftovers, OnlyDeadFilesOfOursGoNeverAUsersNorALinksTarget) {
  TempTree tree;
  tree.Write("out/mail.tgz", "an archive");
  for (const char* name : {".mailsheaf-0123abcd-mail.tgz", ".mailsheaf-89abcdef-mail - report.txt",
                           ".mailsheaf-11111111-held.tgz", "backup.tgz.part00000000",
                           "mailbox.part20240101", "x.part0000abcd"}) {
    tree.Write(std::string("out/") + name, kGzipStart);
    Age(tree.Path(std::string("out/") + name));
  }
  tree.Write("out/.mailsheaf-22222222-live.tgz", kGzipStart);
  tree.Folder("out/.mailsheaf-33333333-folder");
  tree.Write("elsewhere.tgz", kGzipStart);
  Age(tree.Path("elsewhere.tgz"));
  std::filesystem::create_symlink(tree.Path("elsewhere.tgz"),
                                  tree.Path("out/.mailsheaf-44444444-link"));
  Age(tree.Path("out/.mailsheaf-44444444-link"));
  // Held as a running writer holds its file: open, with an exclusive flock.
  const int held = ::open(tree.Path("out/.mailsheaf-11111111-held.tgz").c_str(), O_WRONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);

  RealFileSystem().RemoveStaleFiles(Utf8ToUtf16(tree.Path("out/")));
  ::close(held);
  EXPECT_THAT(NamesIn(tree.Path("out")),
              UnorderedElementsAre("mail.tgz", ".mailsheaf-11111111-held.tgz",
                                   ".mailsheaf-22222222-live.tgz", "backup.tgz.part00000000",
                                   "mailbox.part20240101", "x.part0000abcd",
                                   ".mailsheaf-33333333-folder", ".mailsheaf-44444444-link"));
  EXPECT_EQ(ReadWholeFile(tree.Path("elsewhere.tgz")), kGzipStart);
}

// Without O_TMPFILE a killed run leaves its named file; the next run to the folder removes it.
// While a write runs, its named file is held, and the cleanup of another run passes it by.
TEST(Leftovers, NamedTemporaryFileIsHeldWhileWrittenAndCleanedUpAfterAKill) {
  TempTree tree;
  tree.Write("src/a.eml", PlainMessage(100000, 'a'));
  tree.Write("src/b.eml", PlainMessage(100000, 'b'));
  FileSystem& named = RealFileSystemWithNamedTemporaryFiles();

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RecordingEvents events;
    events.on_info = [](const std::u16string&) { ::kill(::getpid(), SIGKILL); };
    Pack(named, tree.Path("src"), tree.Path("out.tgz"), events);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  std::vector<std::string> left = NamesIn(tree.root());
  ASSERT_EQ(left.size(), 2u) << "the killed run left its file";
  const std::string stale = IsPart(left[0]) ? left[0] : left[1];
  ASSERT_TRUE(IsPart(stale));
  Age(tree.Path(stale));

  RecordingEvents events;
  std::vector<std::string> during;
  events.on_info = [&](const std::u16string& path) {
    if (path.find(u"b.eml") == std::u16string::npos) return;
    RealFileSystem().RemoveStaleFiles(Utf8ToUtf16(tree.root()));
    during = NamesIn(tree.root());
  };
  std::u16string error;
  ASSERT_EQ(Pack(named, tree.Path("src"), tree.Path("out.tgz"), events, &error), 1)
      << Utf16ToUtf8(error);
  ASSERT_EQ(during.size(), 2u) << "the stale file went, the running write's file stayed";
  EXPECT_NE(IsPart(during[0]) ? during[0] : during[1], stale);
  EXPECT_THAT(NamesIn(tree.root()), UnorderedElementsAre("src", "out.tgz"));
}

TEST(Leftovers, LongestDestinationNameWorksEitherWay) {
  TempTree tree;
  tree.Write("src/a.eml", "a");
  tree.Folder("out");
  const std::string name = NameOfLength(255, ".tgz");  // bytes, with 2-, 3- and 4-byte characters
  ASSERT_EQ(name.size(), 255u);
  for (FileSystem* fs : {&RealFileSystem(), &RealFileSystemWithNamedTemporaryFiles()}) {
    RecordingEvents events;
    std::u16string error;
    EXPECT_EQ(Pack(*fs, tree.Path("src"), tree.Path("out/" + name), events, &error), 1)
        << Utf16ToUtf8(error);
    EXPECT_EQ(NamesIn(tree.Path("out")), std::vector<std::string>{name});
  }
}

}  // namespace
}  // namespace mailsheaf::testing
