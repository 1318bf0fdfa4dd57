// The services against kernel32 itself, on real trees in the temporary folder.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "base/text.h"
#include "fs/capabilities.h"
#include "fs/find_entries.h"
#include "fs/message_scan.h"
#include "fs/system_calls.h"
#include "temp_tree.h"

namespace mailsheaf {
namespace {

using ::testing::UnorderedElementsAre;
using testing::TempTree;

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

class CaptionHost : public ScanHost {
 public:
  void YieldToQueue() override { ++yields; }
  void SetCountCaption(const std::u16string& caption) override { captions.push_back(caption); }
  int yields = 0;
  std::vector<std::u16string> captions;
};

struct Counts {
  int32_t messages = 1;
  int32_t folders = 0;
};

Counts Scan(System& system, const std::wstring& root, CaptionHost& host) {
  Counts counts;
  std::u16string path = U16(root);
  ScanMessageFolder(system, path, u"*.eml", counts.messages, counts.folders, host);
  EXPECT_EQ(path, U16(root) + u"\\");
  return counts;
}

class RealTree : public ::testing::Test {
 protected:
  TempTree tree;
  System system{PlatformSystemCalls()};  // detected afresh for each test
};

TEST_F(RealTree, RunsOnTheNtPlatformWithTheWideCalls) {
  EXPECT_TRUE(system.WideCallsInUse());
  EXPECT_TRUE(system.Capabilities().HasGetVersionExW);
  EXPECT_EQ(system.Capabilities().HostOSVersion.PlatformId, 2);
  EXPECT_TRUE(system.Capabilities().UseGetFileAttributesW);
  EXPECT_TRUE(system.Capabilities().UseFindNextFileW);
}

TEST_F(RealTree, NamesInEveryScriptAreListedExactly) {
  const std::wstring cyrillic = L"\x041f\x0430\x043f\x043a\x0430";                // Папка
  const std::wstring greek = L"\x03b5\x03c0\x03b9\x03c3\x03c4\x03bf\x03bb\x03ae";  // επιστολή
  const std::wstring cjk = L"\x90ae\x4ef6";                                       // 邮件
  const std::wstring latin = L"R\x00e9sum\x00e9 \x00e0 d\x00e9j\x00e0";           // Résumé à déjà
  tree.File(cyrillic + L"\\" + greek + L".eml");
  tree.File(cyrillic + L"\\" + cjk + L"\\" + cjk + L".eml");
  tree.File(latin + L".eml");
  tree.File(L"\x00c5ngstr\x00f6m\\n\x00e4chste.eml");

  FindState state;
  std::vector<std::u16string> names;
  ASSERT_NE(FindFirstEntry(system, U16(tree.root() + L"\\" + cyrillic + L"\\*"), state), -1);
  do names.push_back(state.Name);
  while (FindNextEntry(system, state) != 0);
  EXPECT_EQ(state.SearchHandle, 0);
  EXPECT_THAT(names, UnorderedElementsAre(u".", u"..", U16(greek + L".eml"), U16(cjk)));

  CaptionHost host;
  const Counts counts = Scan(system, tree.root(), host);
  EXPECT_EQ(counts.folders, 3);
  EXPECT_EQ(counts.messages, 5);
  ASSERT_EQ(host.captions.size(), 4u);
  EXPECT_EQ(host.captions.back(), u"4 Messages Queued for Conversion.");
  EXPECT_GT(system.QueryFileAttributes(U16(tree.root() + L"\\" + latin + L".eml")), 0);
}

TEST_F(RealTree, PathsPast260AndPast1000CharactersAreScannedToTheEnd) {
  std::wstring relative;
  int messagesPlaced = 0;
  size_t longest = 0;
  for (int level = 0; tree.root().size() + relative.size() < 1100; ++level) {
    relative += (relative.empty() ? L"" : L"\\") + std::wstring(40, static_cast<wchar_t>(L'a' + level % 26));
    tree.File(relative + L"\\m" + std::to_wstring(level) + L".eml");
    ++messagesPlaced;
    longest = tree.root().size() + relative.size() + 8;
  }
  ASSERT_GT(longest, 1000u);

  CaptionHost host;
  const Counts counts = Scan(system, tree.root(), host);
  EXPECT_EQ(counts.messages, messagesPlaced + 1);
  EXPECT_EQ(counts.folders, messagesPlaced);
  EXPECT_EQ(system.QueryFileAttributes(U16(tree.root() + L"\\" + relative)) & 0x10, 0x10);
}

TEST_F(RealTree, MessagesAreFoundWhateverTheirCaseAndAttributes) {
  tree.File(L"UPPER.EML");
  tree.File(L"Mixed.Eml");
  tree.File(L"hidden.eml", FILE_ATTRIBUTE_HIDDEN);
  tree.File(L"system.eml", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
  tree.File(L"x.eml\\inside.eml");  // a folder named like a message
  tree.File(L"notes.txt");
  tree.File(L"hidden folder\\y.eml");
  SetFileAttributesW(testing::Long(tree.root() + L"\\hidden folder").c_str(),
                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);

  CaptionHost host;
  const Counts counts = Scan(system, tree.root(), host);
  EXPECT_EQ(counts.folders, 2);
  // UPPER, Mixed, hidden, system, x.eml\inside, hidden folder\y: never the folder x.eml itself.
  EXPECT_EQ(counts.messages, 7);
  EXPECT_EQ(host.captions.size(), 6u);
}

// Names that nearly end in ".eml" are no messages, even where the volume gave them an 8.3 alias
// that does (b.emlx as B~1.EML, longname_message.emlx as LONGNA~1.EML): the system matches the
// pattern against both names, and Wine, like Windows with short names on, makes such aliases.
// The archive leaves them out, so the count must too.
TEST_F(RealTree, NearMissNamesAreNotMessagesWhateverTheirShortAlias) {
  for (const wchar_t* name : {L"a.em", L".em", L"c.eml.txt", L"eml"}) tree.File(name);
  tree.File(L".EML");
  tree.File(L"F.Eml");
  tree.File(L"a long message name.eml");  // a message with an alias of its own
  int aliased = 0;
  for (const wchar_t* name : {L"b.emlx", L"d.eml ", L"longname_message.emlx"}) {
    tree.File(name);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(testing::Long(tree.root() + L"\\" + name).c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    const std::wstring alias = data.cAlternateFileName;
    if (alias.size() > 4 && _wcsicmp(alias.c_str() + alias.size() - 4, L".EML") == 0) ++aliased;
  }
  // Without such an alias the listing itself would refuse them and nothing would be tested.
  EXPECT_GT(aliased, 0) << "no near miss was given an alias ending in .EML";

  CaptionHost host;
  const Counts counts = Scan(system, tree.root(), host);
  EXPECT_EQ(counts.folders, 0);
  EXPECT_EQ(counts.messages, 4);  // .EML, F.Eml, "a long message name.eml", counted from 1
  EXPECT_EQ(host.captions.size(), 3u);
}

TEST_F(RealTree, LinkBackToAnAncestorIsCountedButNotWalked) {
  tree.File(L"a.eml");
  tree.File(L"sub\\b.eml");
  tree.File(L"sub\\deeper\\c.eml");
  const std::string why = tree.DirectoryLink(L"sub\\deeper\\up", tree.root());
  if (!why.empty()) GTEST_SKIP() << why;

  CaptionHost host;
  const Counts counts = Scan(system, tree.root(), host);
  EXPECT_EQ(counts.folders, 3);  // sub, deeper, up
  EXPECT_EQ(counts.messages, 4);
}

// The real kernel32, except that it reports the Windows 95 family: every call takes its ANSI
// form and every name passes through the ANSI code page.
class Windows95Calls final : public SystemCalls {
 public:
  ModuleHandle LoadLibraryA(const char* name) override { return real_.LoadLibraryA(name); }
  ProcAddress GetProcAddress(ModuleHandle module, const char* name) override {
    return real_.GetProcAddress(module, name);
  }
  int32_t FreeLibrary(ModuleHandle module) override { return real_.FreeLibrary(module); }
  int32_t GetVersionExW(OsVersionInfoW&) override { return 0; }
  int32_t GetVersionExA(OsVersionInfoA& info) override {
    const int32_t ok = real_.GetVersionExA(info);
    info.dwPlatformId = kPlatformWindows95;
    return ok;
  }
  uint32_t GetVersion() override { return 0xC0000A04; }
  FindHandle FindFirstFileW(const unsigned char* p, FindDataW& d) override { return real_.FindFirstFileW(p, d); }
  FindHandle FindFirstFileA(const char* p, FindDataA& d) override { return real_.FindFirstFileA(p, d); }
  int32_t FindNextFileW(FindHandle h, FindDataW& d) override { return real_.FindNextFileW(h, d); }
  int32_t FindNextFileA(FindHandle h, FindDataA& d) override { return real_.FindNextFileA(h, d); }
  int32_t FindClose(FindHandle h) override { return real_.FindClose(h); }
  uint32_t GetFileAttributesW(const unsigned char* p) override { return real_.GetFileAttributesW(p); }
  uint32_t GetFileAttributesA(const char* p) override { return real_.GetFileAttributesA(p); }
  std::string WideToAnsi(std::u16string_view t) override { return real_.WideToAnsi(t); }
  std::u16string AnsiToWide(std::string_view b) override { return real_.AnsiToWide(b); }
  bool FolderIdentityW(const unsigned char* p, FileIdentity& i) override { return real_.FolderIdentityW(p, i); }
  bool FolderIdentityA(const char* p, FileIdentity& i) override { return real_.FolderIdentityA(p, i); }

 private:
  SystemCalls& real_ = PlatformSystemCalls();
};

TEST_F(RealTree, AnsiRouteSeesSubstitutesForNamesOutsideTheCodePage) {
  // Cyrillic, Greek and CJK together: no single ANSI code page holds all three.
  const std::wstring foreign = L"\x041f\x03b1\x90ae\x4ef6.eml";
  SystemCalls& real = PlatformSystemCalls();
  if (real.AnsiToWide(real.WideToAnsi(U16(foreign))) == U16(foreign)) {
    GTEST_SKIP() << "this machine's ANSI code page expresses " << real.WideToAnsi(U16(foreign));
  }
  Windows95Calls calls;
  System windows95(calls);
  tree.File(L"plain.eml");
  tree.File(foreign);

  FindState state;
  std::vector<std::u16string> names;
  if (FindFirstEntry(windows95, U16(tree.root() + L"\\*.eml"), state) != -1) {
    do names.push_back(state.Name);
    while (FindNextEntry(windows95, state) != 0);
  }
  CaptionHost host;
  const Counts counts = Scan(windows95, tree.root(), host);

  EXPECT_FALSE(windows95.Capabilities().UseFindFirstFileW);
  EXPECT_EQ(windows95.Capabilities().HostOSVersion.PlatformId, 1);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_NE(std::find(names.begin(), names.end(), u"plain.eml"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), U16(foreign)), names.end());
  // The substitute name cannot be queried back, so only the plain one counts as a message.
  EXPECT_EQ(counts.messages, 2);
}

}  // namespace
}  // namespace mailsheaf
