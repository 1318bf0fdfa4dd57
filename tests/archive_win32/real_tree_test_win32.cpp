// The writer on real Windows folders (under Wine in the build): Unicode names, paths far past
// 260 characters, drive-letter roots with and without the trailing backslash, and no partial
// archive whatever goes wrong.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "archive/tar_archive.h"
#include "fs/path_helpers.h"
#include "fs/text.h"
#include "tests/archive/archive_test_helpers.h"

namespace mailsheaf::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const wchar_t* Wide(const std::vector<unsigned char>& buffer) {
  return reinterpret_cast<const wchar_t*>(buffer.data());
}

class WinTree {
 public:
  WinTree() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    root_ = reinterpret_cast<const char16_t*>(temp);
    if (root_.back() != u'\\') root_.push_back(u'\\');
    root_ += u"mailsheaf-" + DecimalText(GetCurrentProcessId()) + u"-" +
             DecimalText(static_cast<long long>(GetTickCount()));
    MakeFolder(root_);
  }
  ~WinTree() { RemoveTree(root_); }

  std::u16string Path(const std::u16string& relative) const { return root_ + u"\\" + relative; }

  void Folder(const std::u16string& relative) const {
    std::u16string path = root_;
    size_t start = 0;
    while (start <= relative.size()) {
      const size_t end = std::min(relative.find(u'\\', start), relative.size());
      path += u"\\" + relative.substr(start, end - start);
      MakeFolder(path);
      start = end + 1;
    }
  }

  void Write(const std::u16string& relative, const std::string& content) const {
    const size_t cut = relative.rfind(u'\\');
    if (cut != std::u16string::npos) Folder(relative.substr(0, cut));
    const HANDLE file = CreateFileW(Wide(LongPathBuffer(Path(relative))), GENERIC_WRITE, 0,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Utf16ToUtf8(relative);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
  }

  std::string Read(const std::u16string& path) const {
    const HANDLE file = CreateFileW(Wide(LongPathBuffer(path)), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string content;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      content.append(buffer, got);
    }
    CloseHandle(file);
    return content;
  }

  std::vector<std::u16string> NamesIn(const std::u16string& relative) const {
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW(Wide(LongPathBuffer(Path(relative) + u"\\*")), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      const std::u16string name = reinterpret_cast<const char16_t*>(data.cFileName);
      if (name != u"." && name != u"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
  }

 private:
  static void MakeFolder(const std::u16string& path) {
    CreateDirectoryW(Wide(LongPathBuffer(path)), nullptr);
  }
  static void RemoveTree(const std::u16string& path) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW(Wide(LongPathBuffer(path + u"\\*")), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::u16string name = reinterpret_cast<const char16_t*>(data.cFileName);
        if (name == u"." || name == u"..") continue;
        const std::u16string child = path + u"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(child);
        } else {
          DeleteFileW(Wide(LongPathBuffer(child)));
        }
      } while (FindNextFileW(find, &data));
      FindClose(find);
    }
    RemoveDirectoryW(Wide(LongPathBuffer(path)));
  }

  std::u16string root_;
};

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
  message(u"Boîte de réception\\Élément envoyé.Eml", "");
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
        DeleteFileW(Wide(LongPathBuffer(path)));
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
  {  // The window's Stop: discard from a handler, as just before ending the process.
    RecordingEvents events;
    TarArchive archive(&events);
    std::vector<std::u16string> at_discard;
    events.on_info = [&](const std::u16string& path) {
      if (path.find(u"b.eml") == std::u16string::npos) return;
      archive.DiscardUnfinished();
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
