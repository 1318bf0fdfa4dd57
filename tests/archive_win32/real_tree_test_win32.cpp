// The writer on real Windows folders (under Wine in the build): Unicode names, paths far past
// 260 characters, drive-letter roots with and without the trailing backslash, and no partial
// archive whatever goes wrong.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "archive/tar_archive.h"
#include "base/path_forms.h"
#include "base/text.h"
#include "base/win32/wide.h"
#include "tests/archive/archive_test_helpers.h"
#include "tests/support/win_tree_win32.h"

namespace mailsheaf::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kDated = "Date: Thu, 22 Aug 2002 07:36:16 -0400\r\n\r\nbody\r\n";

TEST(WindowsTree, UnicodeNamesAndLongPathsRoundTrip) {
  WinTree tree;
  std::map<std::string, std::string> expected;
  auto message = [&](const std::u16string& relative, const std::string& content) {
    tree.Write(u"src\\" + relative, content);
    std::string stored = Utf16ToUtf8(relative);
    for (char& c : stored) c = c == '\\' ? '/' : c;
    stored.replace(stored.size() - 4, 4, ".eml");
    expected[stored] = content;
  };
  message(u"Входящие\\письмо.eml", kDated);
  message(u"Εισερχόμενα\\μήνυμα.EML", "greek");
  message(u"受信トレイ\\メール.eml", "cjk");
  message(u"Boîte de réception\\Élément envoyé.Eml", "Subject: sent\r\n\r\nsent\r\n");
  tree.Write(u"src\\Входящие\\Thumbs.db", "not a message");
  // Paths of 300 and then more than 1,000 characters below the temporary folder.
  std::u16string deep;
  for (int i = 0; i < 40; ++i) {
    deep += u"папка-с-длинным-именем-" + DecimalText(i) + u"\\";
    if (i == 10 || i == 39) message(deep + u"глубоко.eml", Utf16ToUtf8(deep));
  }
  ASSERT_GT(tree.Path(u"src\\" + deep).size(), 1000u);

  for (const std::u16string& root : {tree.Path(u"src\\"), tree.Path(u"src")}) {
    RecordingEvents events;
    TarArchive archive(&events);
    archive.SetArchiveFormat(u"gnu");
    ASSERT_EQ(archive.AddRootFolder(root), 1);
    const std::u16string destination = tree.Path(u"архив.tgz");
    ASSERT_EQ(archive.WriteCompressedArchive(destination), 1)
        << Utf16ToUtf8(archive.LastErrorText());

    std::map<std::string, std::string> stored;
    for (const TarItem& item : ReadArchiveBytes(tree.Read(destination))) {
      if (item.type == '0') stored[item.name] = item.data;
    }
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(archive.ArchiveSize(), tree.Read(destination).size());
    // The events carry plain Windows paths: no long-path prefix, backslashes throughout.
    ASSERT_FALSE(events.paths.empty());
    for (const std::u16string& path : events.paths) {
      EXPECT_EQ(path.rfind(tree.Path(u"src\\"), 0), 0u) << Utf16ToUtf8(path);
      EXPECT_EQ(path.find(u'/'), std::u16string::npos);
    }
  }
}

// What real exports carry, on Windows folders: bare CR line ends, a message without header
// fields, sent mail under another folder name, look-alike files; and a report that always
// describes the archive beside it, never replacing a file of the user's.
TEST(WindowsTree, RealExportsArriveAsWrittenAndTheReportTellsTheTruth) {
  WinTree tree;
  const std::string mac = "Date: Thu, 22 Aug 2002 07:36:16 -0400\rStatus: O\r\rline one\rline two\r";
  std::string minutes = "Hi Bob, the minutes follow\r\n\r\n";
  for (int i = 0; i < 700; ++i) minutes += "Item " + std::to_string(i) + " agreed. ";
  tree.Write(u"src\\Sent Items\\mac.eml", mac);
  tree.Write(u"src\\Notes\\minutes.eml", minutes);
  tree.Write(u"src\\Notes\\old.emlx", "12\nSubject: x\n\n");
  const std::u16string destination = tree.Path(u"out\\mail.tgz");
  const std::u16string report = tree.Path(u"out\\mail - report.txt");
  tree.Write(u"tidy\\Sent\\a.eml", kDated);
  tree.Folder(u"out");
  auto pack = [&](const std::u16string& source) {
    RecordingEvents events;
    TarArchive archive(&events);
    ASSERT_EQ(archive.AddRootFolder(tree.Path(source)), 1);
    ASSERT_EQ(archive.WriteCompressedArchive(destination), 1)
        << Utf16ToUtf8(archive.LastErrorText());
  };
  pack(u"src");
  std::map<std::string, TarItem> stored;
  for (const TarItem& item : ReadArchiveBytes(tree.Read(destination))) stored[item.name] = item;
  ASSERT_EQ(stored.count("Sent/mac.eml"), 1u);
  EXPECT_EQ(stored["Sent/mac.eml"].data, mac) << "stored byte for byte";
  EXPECT_EQ(stored["Sent/mac.eml"].mode & 0777, 0444u) << "its Status: O was read";
  EXPECT_EQ(stored["Sent/mac.eml"].mtime, 1030016176);
  EXPECT_EQ(stored["Notes/minutes.eml"].data.rfind("MIME-Version: 1.0\r\n", 0), 0u);
  const std::string text = tree.Read(report);
  for (const char* said : {"\"Sent Items\" -> \"Sent\"", "old.emlx\": an Apple Mail message",
                           "a header section was put in front"}) {
    EXPECT_THAT(text, HasSubstr(said));
  }

  // Nothing to tell: the earlier report goes. A file of the user's never does.
  pack(u"tidy");
  EXPECT_EQ(tree.Read(report), "<missing>");
  tree.Write(u"out\\mail - report.txt", "my notes");
  pack(u"src");
  EXPECT_EQ(tree.Read(report), "my notes");
}

TEST(WindowsTree, FailureOrDiscardLeavesTheOldArchiveAndNoTemporaryFile) {
  WinTree tree;
  tree.Write(u"src\\a.eml", kDated);
  tree.Write(u"src\\Sent\\b.eml", std::string(500000, 'b'));
  tree.Write(u"out\\mail.tgz", "the previous archive");
  const std::u16string destination = tree.Path(u"out\\mail.tgz");

  {  // A message vanishes just before it is stored.
    RecordingEvents events;
    events.on_info = [&](const std::u16string& path) {
      if (path.find(u"b.eml") != std::u16string::npos) {
        DeleteFileW(WidePointer(LongPathBuffer(path)));
      }
    };
    TarArchive archive(&events);
    ASSERT_EQ(archive.AddRootFolder(tree.Path(u"src\\")), 1);
    EXPECT_EQ(archive.WriteCompressedArchive(destination), 0);
    EXPECT_THAT(Utf16ToUtf8(archive.LastErrorText()), HasSubstr("Cannot open the message"));
    EXPECT_THAT(tree.NamesIn(u"out"), ElementsAre(u"mail.tgz"));
    EXPECT_EQ(tree.Read(destination), "the previous archive");
  }
  tree.Write(u"src\\Sent\\b.eml", std::string(500000, 'b'));
  {  // The window's Stop: from a handler, as just before ending the process.
    RecordingEvents events;
    TarArchive archive(&events);
    std::vector<std::u16string> at_discard;
    events.on_info = [&](const std::u16string& path) {
      if (path.find(u"b.eml") == std::u16string::npos) return;
      archive.Stop();
      at_discard = tree.NamesIn(u"out");
    };
    ASSERT_EQ(archive.AddRootFolder(tree.Path(u"src")), 1);
    EXPECT_EQ(archive.WriteCompressedArchive(destination), 0);
    EXPECT_THAT(at_discard, ElementsAre(u"mail.tgz"));
    EXPECT_EQ(tree.Read(destination), "the previous archive");
  }
  {  // The destination folder does not exist.
    RecordingEvents events;
    TarArchive archive(&events);
    ASSERT_EQ(archive.AddRootFolder(tree.Path(u"src")), 1);
    EXPECT_EQ(archive.WriteCompressedArchive(tree.Path(u"missing\\mail.tgz")), 0);
    EXPECT_THAT(Utf16ToUtf8(archive.LastErrorText()), HasSubstr("does not exist"));
  }
  {  // Success replaces the old archive; the destination inside the tree is not stored.
    RecordingEvents events;
    TarArchive archive(&events);
    ASSERT_EQ(archive.AddRootFolder(tree.Path(u"src")), 1);
    ASSERT_EQ(archive.WriteCompressedArchive(tree.Path(u"src\\Sent\\x.eml")), 1);
    ASSERT_EQ(archive.WriteCompressedArchive(destination), 1);
    const auto items = ReadArchiveBytes(tree.Read(destination));
    EXPECT_THAT(NamesOf(items), ElementsAre("a.eml", "Sent/", "Sent/b.eml", "Sent/x.eml"));
    const auto inner = ReadArchiveBytes(tree.Read(tree.Path(u"src\\Sent\\x.eml")));
    EXPECT_THAT(NamesOf(inner), ElementsAre("a.eml", "Sent/", "Sent/b.eml"));
  }
}

TEST(WindowsTree, RootMustBeAListableFolder) {
  WinTree tree;
  tree.Write(u"file.eml", kDated);
  RecordingEvents events;
  TarArchive archive(&events);
  EXPECT_EQ(archive.AddRootFolder(u""), 0);
  EXPECT_EQ(archive.AddRootFolder(tree.Path(u"missing\\")), 0);
  EXPECT_EQ(archive.AddRootFolder(tree.Path(u"file.eml")), 0);
  EXPECT_EQ(archive.AddRootFolder(tree.Path(u"")), 1);
}

}  // namespace
}  // namespace mailsheaf::testing
