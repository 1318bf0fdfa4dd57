// The writer on the machine's own file system, read back by our reader, GNU tar and Python.

#include <fcntl.h>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include "mail/file_system.h"
#include "archive/tar_archive.h"
#include "base/text.h"
#include "tests/archive/archive_test_helpers.h"
#include "tests/archive/test_helpers_posix.h"

namespace mailsheaf::testing {
namespace {

using ::testing::HasSubstr;

const std::string kDated = "Date: Thu, 22 Aug 2002 07:36:16 -0400\r\nSubject: hi\r\n\r\nbody\r\n";

// name -> content of every message as the archive must hold it.
using Expected = std::map<std::string, std::string>;

Expected MakeTree(const TempTree& tree) {
  Expected expected;
  auto message = [&](const std::string& relative, const std::string& stored,
                     const std::string& content) {
    tree.Write("src/" + relative, content);
    expected[stored] = content;
  };
  message("Inbox/plain.eml", "Inbox/plain.eml", kDated);
  message("Inbox/EMPTY.EML", "Inbox/EMPTY.eml", "no header, no date");
  message("Inbox/Ελληνικά και кириллица 漢字.eml", "Inbox/Ελληνικά και кириллица 漢字.eml", "unicode");
  message("Sent/bare-lf.Eml", "Sent/bare-lf.eml", "Subject: x\n\nline\n");
  tree.Write("src/Inbox/notes.txt", "not a message");
  tree.Write("src/desktop.ini", "[.ShellClassInfo]");
  tree.Folder("src/Empty");
  // Entry names of every length from 5 to 300 bytes, multi-byte characters across byte 100.
  const std::string long_folder = NameOfLength(150, "");
  for (size_t length = 5; length <= 300; ++length) {
    std::string relative = "Long/" + NameOfLength(length - 5, ".eml");
    if (length > 250) relative = "Long/" + long_folder + "/" + NameOfLength(length - 156, ".eml");
    if (relative.size() != length) continue;
    message(relative, relative, relative);
  }
  // A deep tree.
  std::string deep = "Deep";
  for (int i = 0; i < 40; ++i) deep += "/level" + std::to_string(i);
  message(deep + "/bottom.eml", deep + "/bottom.eml", "deep");
  // A link back to an ancestor is stored as a folder and not descended.
  std::filesystem::create_directory_symlink(tree.Path("src"), tree.Path("src/Inbox/loop"));
  return expected;
}

std::vector<TarItem> ReadArchive(const std::string& path) {
  return ReadArchiveBytes(ReadWholeFile(path));
}

TEST(RealTree, RoundTripThroughOurReaderGnuTarAndPython) {
  TempTree tree;
  const Expected expected = MakeTree(tree);
  // The destination lies inside the tree, over an earlier archive.
  const std::string destination = tree.Path("src/Inbox/archive.tgz");
  tree.Write("src/Inbox/archive.tgz", "an earlier archive");

  {  // Over one of the tree's messages, by any of its names, it is refused and nothing changes.
    for (const char* over : {"src/Inbox/plain.eml", "src/Inbox/loop/Sent/bare-lf.Eml"}) {
      RecordingEvents events;
      TarArchive refused(&events);
      ASSERT_EQ(refused.AddRootFolder(Utf8ToUtf16(tree.Path("src"))), 1);
      EXPECT_EQ(refused.WriteCompressedArchive(Utf8ToUtf16(tree.Path(over))), 0) << over;
      EXPECT_THAT(Utf16ToUtf8(refused.LastErrorText()),
                  ::testing::HasSubstr("would replace a message it has to store"));
      EXPECT_TRUE(events.paths.empty()) << "refused before anything is written";
    }
    EXPECT_EQ(ReadWholeFile(tree.Path("src/Inbox/plain.eml")), kDated);
    EXPECT_EQ(ReadWholeFile(tree.Path("src/Sent/bare-lf.Eml")), "Subject: x\n\nline\n");
  }

  RecordingEvents events;
  TarArchive archive(&events);
  archive.SetArchiveFormat(u"gnu");
  ASSERT_EQ(archive.AddRootFolder(Utf8ToUtf16(tree.Path("src/"))), 1);
  ASSERT_EQ(archive.WriteCompressedArchive(Utf8ToUtf16(destination)), 1)
      << Utf16ToUtf8(archive.LastErrorText());
  EXPECT_EQ(static_cast<size_t>(archive.MessagesStored()), expected.size());
  EXPECT_EQ(archive.ArchiveSize(), std::filesystem::file_size(destination));
  EXPECT_EQ(events.paths.front().substr(0, 1), u"/") << "full paths in the events";

  Expected stored;
  std::map<std::string, TarItem> by_name;
  for (const TarItem& item : ReadArchive(destination)) {
    if (item.type == '0') stored[item.name] = item.data;
    by_name[item.name] = item;
  }
  EXPECT_EQ(stored, expected);
  EXPECT_TRUE(by_name.count("Inbox/loop/")) << "the link is a folder entry";
  EXPECT_EQ(by_name["Inbox/plain.eml"].mtime, 1030016176);
  struct stat info {};
  ASSERT_EQ(::stat(tree.Path("src/Inbox/EMPTY.EML").c_str(), &info), 0);
  EXPECT_EQ(by_name["Inbox/EMPTY.eml"].mtime, info.st_mtime)
      << "no Date field: the file's own time";

  ASSERT_TRUE(HaveTool("gzip") && HaveTool("tar") && HaveTool("python3"))
      << "scripts/install-deps.sh installs gzip, tar and python3";
  EXPECT_EQ(RunCommand("gzip -t " + Quote(destination)), 0);

  // GNU tar extracts the same contents.
  tree.Folder("extracted");
  ASSERT_EQ(RunCommand("tar -xzf " + Quote(destination) + " -C " + Quote(tree.Path("extracted"))),
            0);
  for (const auto& [name, content] : expected) {
    EXPECT_EQ(ReadWholeFile(tree.Path("extracted/" + name)), content) << name;
  }

  // Python's tarfile sees the same names, sizes, times and modes.
  std::string listing;
  ASSERT_EQ(RunCommand("python3 " + Quote(MAILSHEAF_TESTS_DIR "/python_tar_listing.py") + " " +
                           Quote(destination),
                       &listing),
            0);
  std::istringstream lines(listing);
  std::string line;
  size_t count = 0;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name, type, size, mtime, mode;
    std::getline(fields, name, '\t');
    std::getline(fields, type, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, mtime, '\t');
    std::getline(fields, mode, '\t');
    const TarItem& item = by_name[type == "5" ? name + "/" : name];
    EXPECT_EQ(type[0], item.type) << name;
    EXPECT_EQ(std::stoull(size), item.size) << name;
    EXPECT_EQ(std::stoll(mtime), item.mtime) << name;
    EXPECT_EQ(mode, type == "5" ? "755" : "644") << name;
    ++count;
  }
  EXPECT_EQ(count, by_name.size());
}

// Rewritten in place with the same length and its modification time put back, a message shows
// the change only in its change time.
TEST(RealTree, ARewriteThatKeepsSizeAndModificationTimeIsSeen) {
  TempTree tree;
  tree.Write("a.eml", "first");
  std::u16string error;
  const auto file = RealFileSystem().OpenRead(Utf8ToUtf16(tree.Path("a.eml")), error);
  ASSERT_TRUE(file) << Utf16ToUtf8(error);
  struct stat before {};
  ASSERT_EQ(::stat(tree.Path("a.eml").c_str(), &before), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // past a tick of the file clock
  tree.Write("a.eml", "other");
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, tree.Path("a.eml").c_str(), times, 0), 0);
  bool unchanged = true;
  ASSERT_TRUE(file->Unchanged(unchanged, error)) << Utf16ToUtf8(error);
  EXPECT_FALSE(unchanged);
}

TEST(RealTree, DanglingMessageLinkFailsAndKeepsTheOldArchive) {
  TempTree tree;
  tree.Write("src/a.eml", kDated);
  std::filesystem::create_symlink(tree.Path("nowhere.eml"), tree.Path("src/broken.eml"));
  tree.Write("out/mail.tgz", "the previous archive");
  RecordingEvents events;
  TarArchive archive(&events);
  ASSERT_EQ(archive.AddRootFolder(Utf8ToUtf16(tree.Path("src"))), 1);
  EXPECT_EQ(archive.WriteCompressedArchive(Utf8ToUtf16(tree.Path("out/mail.tgz"))), 0);
  EXPECT_THAT(Utf16ToUtf8(archive.LastErrorText()),
              HasSubstr("Cannot open the message " + tree.Path("src/broken.eml")));
  EXPECT_EQ(ReadWholeFile(tree.Path("out/mail.tgz")), "the previous archive");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree.Path("out")),
                          std::filesystem::directory_iterator()),
            1);
}

// Nothing beside the archive is harmed: a device or a pipe is never replaced by a file, and a
// link at the destination stays a link, the archive written to the file it leads to.
TEST(RealTree, ADestinationThatIsNoPlainFileIsLeftAsItIs) {
  TempTree tree;
  tree.Write("src/a.eml", kDated);
  ASSERT_EQ(::mkfifo(tree.Path("fifo.tgz").c_str(), 0600), 0);
  tree.Write("real/target.tgz", "the previous archive");
  tree.Folder("out");
  std::filesystem::create_symlink("../real/target.tgz", tree.Path("out/link.tgz"));
  for (const std::string& destination : {std::string("/dev/null"), tree.Path("fifo.tgz")}) {
    RecordingEvents events;
    TarArchive archive(&events);
    ASSERT_EQ(archive.AddRootFolder(Utf8ToUtf16(tree.Path("src"))), 1);
    EXPECT_EQ(archive.WriteCompressedArchive(Utf8ToUtf16(destination)), 0);
    EXPECT_THAT(Utf16ToUtf8(archive.LastErrorText()), HasSubstr("is a device or a pipe"));
    struct stat info;
    ASSERT_EQ(::stat(destination.c_str(), &info), 0);
    EXPECT_FALSE(S_ISREG(info.st_mode)) << destination;
  }
  RecordingEvents events;
  TarArchive archive(&events);
  ASSERT_EQ(archive.AddRootFolder(Utf8ToUtf16(tree.Path("src"))), 1);
  ASSERT_EQ(archive.WriteCompressedArchive(Utf8ToUtf16(tree.Path("out/link.tgz"))), 1);
  EXPECT_TRUE(std::filesystem::is_symlink(tree.Path("out/link.tgz")));
  EXPECT_EQ(ReadArchiveBytes(ReadWholeFile(tree.Path("real/target.tgz"))).size(), 1u);
}

TEST(RealTree, ASourceThatIsAFileIsSaidToBeNoFolder) {
  TempTree tree;
  tree.Write("a.eml", kDated);
  RecordingEvents events;
  TarArchive archive(&events);
  EXPECT_EQ(archive.AddRootFolder(Utf8ToUtf16(tree.Path("a.eml"))), 0);
  EXPECT_EQ(Utf16ToUtf8(archive.LastErrorText()),
            "The source " + tree.Path("a.eml") + " is not a folder.");
}

// Runs the packer as an ordinary user (nobody, when the tests run as root, since root reads
// every folder anyway). Returns its exit code and what it said.
int PackAsOrdinaryUser(const std::string& source, const std::string& destination,
                       std::string& said) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return -1;
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    ::dup2(pipe_ends[1], STDOUT_FILENO);
    ::dup2(pipe_ends[1], STDERR_FILENO);
    ::close(pipe_ends[0]);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
    ::execl(MAILSHEAF_PACK_PATH, "mailsheaf-pack", source.c_str(), destination.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipe_ends[1]);
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0) said.append(buffer, got);
  ::close(pipe_ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RealTree, AFolderTheUserCannotExamineFailsTheRunNamingIt) {
  TempTree tree;
  tree.Write("t/Inbox/i.eml", kDated);
  tree.Write("t/Archive/2019/a.eml", kDated);
  tree.Write("t/Archive/2020/b.eml", kDated);
  tree.Write("secret/Mail/m.eml", kDated);
  tree.Folder("out");
  namespace fs = std::filesystem;
  for (const auto& entry : fs::recursive_directory_iterator(tree.root())) {
    fs::permissions(entry.path(), entry.is_directory() ? fs::perms(0755) : fs::perms(0644));
  }
  fs::permissions(tree.root(), fs::perms(0755));
  fs::permissions(tree.Path("out"), fs::perms(0777));

  {  // Listed but not examined: the names show, their kinds do not.
    fs::permissions(tree.Path("t/Archive"), fs::perms(0444));
    std::string said;
    EXPECT_EQ(PackAsOrdinaryUser(tree.Path("t"), tree.Path("out/mail.tgz"), said), 1) << said;
    EXPECT_THAT(said, HasSubstr("Cannot examine " + tree.Path("t/Archive/20"))) << said;
    fs::permissions(tree.Path("t/Archive"), fs::perms(0755));
  }
  {  // A link to a place the user cannot reach.
    fs::permissions(tree.Path("secret"), fs::perms(0700));
    fs::create_directory_symlink(tree.Path("secret/Mail"), tree.Path("t/Mail"));
    std::string said;
    EXPECT_EQ(PackAsOrdinaryUser(tree.Path("t"), tree.Path("out/mail.tgz"), said), 1) << said;
    EXPECT_THAT(said, HasSubstr("Cannot examine " + tree.Path("t/Mail"))) << said;
    fs::remove(tree.Path("t/Mail"));
  }
  EXPECT_TRUE(fs::is_empty(tree.Path("out"))) << "no archive and nothing else";
  {  // With everything readable the same user stores all three.
    std::string said;
    EXPECT_EQ(PackAsOrdinaryUser(tree.Path("t"), tree.Path("out/mail.tgz"), said), 0) << said;
    EXPECT_THAT(said, HasSubstr("3 messages"));
  }
}

// Ctrl+C on the command-line packer while it writes: exit 130, no temporary file, the old
// archive untouched.
TEST(RealTree, InterruptedPackerLeavesNoPartialArchive) {
  TempTree tree;
  WriteSlowTree(tree, "src");
  tree.Write("out/mail.tgz", "the previous archive");

  PackerProcess packer(MAILSHEAF_PACK_PATH, tree.Path("src"), tree.Path("out/mail.tgz"));
  ASSERT_TRUE(packer.started());
  ASSERT_THAT(packer.FirstLine(), HasSubstr("0%")) << "the packer never started writing";
  packer.Signal(SIGINT);
  const int status = packer.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_EQ(ReadWholeFile(tree.Path("out/mail.tgz")), "the previous archive");
  EXPECT_EQ(NamesIn(tree.Path("out")), std::vector<std::string>{"mail.tgz"});
}

}  // namespace
}  // namespace mailsheaf::testing
