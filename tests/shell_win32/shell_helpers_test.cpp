#include "shell/win32/shell_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/win32/wide.h"

namespace mailsheaf {
namespace {

// What the fake shell calls saw, and what they answer. One test at a time uses it.
struct ShellRecord {
  bool wide = true;
  std::vector<std::string> calls;
  // ShellExecute
  HWND executeOwner = reinterpret_cast<HWND>(1);
  std::u16string verb, file, parameters, directory;
  std::string ansiVerb, ansiFile, ansiParameters, ansiDirectory;
  int showCommand = -1;
  // SHBrowseForFolder
  BROWSEINFOW browseW{};
  BROWSEINFOA browseA{};
  std::u16string titleW;
  std::string titleA;
  bool cancel = false;
  ITEMIDLIST item{};  // the "chosen" item
  // SHGetPathFromIDList
  std::u16string pathW;  // written into the buffer; nothing when empty
  std::string pathA;
  bool bufferWasAllNul = false;
  PCIDLIST_ABSOLUTE pathOf = nullptr;
  LPVOID freed = nullptr;
};
ShellRecord record;

std::u16string FromWideOrNull(LPCWSTR text) { return text ? FromWide(text) : u"<null>"; }
std::string FromAnsi(LPCSTR text) { return text ? std::string(text) : "<null>"; }

bool UseWide() { return record.wide; }

HINSTANCE WINAPI FakeExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                              LPCWSTR directory, INT show) {
  record.calls.push_back("ShellExecuteW");
  record.executeOwner = owner;
  record.verb = FromWideOrNull(verb);
  record.file = FromWideOrNull(file);
  record.parameters = FromWideOrNull(parameters);
  record.directory = FromWideOrNull(directory);
  record.showCommand = show;
  return reinterpret_cast<HINSTANCE>(42);
}

HINSTANCE WINAPI FakeExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                              LPCSTR directory, INT show) {
  record.calls.push_back("ShellExecuteA");
  record.executeOwner = owner;
  record.ansiVerb = FromAnsi(verb);
  record.ansiFile = FromAnsi(file);
  record.ansiParameters = FromAnsi(parameters);
  record.ansiDirectory = FromAnsi(directory);
  record.showCommand = show;
  return reinterpret_cast<HINSTANCE>(42);
}

PIDLIST_ABSOLUTE WINAPI FakeBrowseW(LPBROWSEINFOW info) {
  record.calls.push_back("SHBrowseForFolderW");
  record.browseW = *info;
  record.titleW = FromWideOrNull(info->lpszTitle);
  return record.cancel ? nullptr : &record.item;
}

PIDLIST_ABSOLUTE WINAPI FakeBrowseA(LPBROWSEINFOA info) {
  record.calls.push_back("SHBrowseForFolderA");
  record.browseA = *info;
  record.titleA = FromAnsi(info->lpszTitle);
  return record.cancel ? nullptr : &record.item;
}

BOOL WINAPI FakePathW(PCIDLIST_ABSOLUTE item, LPWSTR buffer) {
  record.calls.push_back("SHGetPathFromIDListW");
  record.pathOf = item;
  record.bufferWasAllNul = true;
  for (int i = 0; i < MAX_PATH; ++i) record.bufferWasAllNul &= buffer[i] == 0;
  if (record.pathW.empty()) return FALSE;
  for (std::size_t i = 0; i < record.pathW.size(); ++i) {
    buffer[i] = static_cast<wchar_t>(record.pathW[i]);
  }
  buffer[record.pathW.size()] = 0;
  return TRUE;
}

BOOL WINAPI FakePathA(PCIDLIST_ABSOLUTE item, LPSTR buffer) {
  record.calls.push_back("SHGetPathFromIDListA");
  record.pathOf = item;
  record.bufferWasAllNul = true;
  for (int i = 0; i < MAX_PATH; ++i) record.bufferWasAllNul &= buffer[i] == 0;
  if (record.pathA.empty()) return FALSE;
  lstrcpyA(buffer, record.pathA.c_str());
  return TRUE;
}

void WINAPI FakeFree(LPVOID memory) {
  record.calls.push_back("CoTaskMemFree");
  record.freed = memory;
}

const ShellCalls kFakeCalls{&UseWide,     &FakeExecuteW, &FakeExecuteA, &FakeBrowseW,
                            &FakeBrowseA, &FakePathW,    &FakePathA,    &FakeFree};

class ShellHelpers : public ::testing::Test {
 protected:
  void SetUp() override { record = ShellRecord{}; }
  HWND owner = reinterpret_cast<HWND>(0x1234);
};

using Calls = std::vector<std::string>;

TEST_F(ShellHelpers, OpeningNothingMakesNoCallOnEitherPlatform) {
  ShellOpen(kFakeCalls, u"");
  record.wide = false;
  ShellOpen(kFakeCalls, u"");
  EXPECT_TRUE(record.calls.empty());
}

TEST_F(ShellHelpers, OpenOnNtHandsTheWholeWideTargetToTheShell) {
  const std::u16string target = u"C:\\\u041f\u043e\u0447\u0442\u0430\\out\\";
  ShellOpen(kFakeCalls, target);
  EXPECT_EQ(record.calls, Calls{"ShellExecuteW"});
  EXPECT_EQ(record.executeOwner, nullptr);
  EXPECT_EQ(record.verb, u"open");
  EXPECT_EQ(record.file, target);
  EXPECT_EQ(record.parameters, u"");
  EXPECT_EQ(record.directory, u"");
  EXPECT_EQ(record.showCommand, SW_SHOWNORMAL);
}

TEST_F(ShellHelpers, OpenOnWindows95TakesTheAnsiCall) {
  record.wide = false;
  ShellOpen(kFakeCalls, u"https://www.corvane.example/mailsheaf/help");
  EXPECT_EQ(record.calls, Calls{"ShellExecuteA"});
  EXPECT_EQ(record.executeOwner, nullptr);
  EXPECT_EQ(record.ansiVerb, "open");
  EXPECT_EQ(record.ansiFile, "https://www.corvane.example/mailsheaf/help");
  EXPECT_EQ(record.ansiParameters, "");
  EXPECT_EQ(record.ansiDirectory, "");
  EXPECT_EQ(record.showCommand, SW_SHOWNORMAL);
}

TEST_F(ShellHelpers, TheBrowserIsAskedForFileSystemFoldersOnlyFromTheDesktopDown) {
  record.pathW = u"C:\\Mail";
  EXPECT_EQ(BrowseForFolderPath(kFakeCalls, owner, u"Choose Source Folder..."), u"C:\\Mail");
  EXPECT_EQ(record.browseW.hwndOwner, owner);
  EXPECT_EQ(record.browseW.pidlRoot, nullptr);
  EXPECT_EQ(record.browseW.pszDisplayName, nullptr);
  EXPECT_EQ(record.titleW, u"Choose Source Folder...");
  EXPECT_EQ(record.browseW.ulFlags, static_cast<UINT>(BIF_RETURNONLYFSDIRS));
  EXPECT_EQ(record.browseW.lpfn, nullptr);
  EXPECT_EQ(record.browseW.lParam, 0);
  EXPECT_EQ(record.browseW.iImage, 0);
  // The path is fetched for the chosen item into a clean buffer, and the item is freed.
  EXPECT_EQ(record.calls, (Calls{"SHBrowseForFolderW", "SHGetPathFromIDListW", "CoTaskMemFree"}));
  EXPECT_EQ(record.pathOf, &record.item);
  EXPECT_TRUE(record.bufferWasAllNul);
  EXPECT_EQ(record.freed, &record.item);
}

TEST_F(ShellHelpers, TheChosenPathComesBackAsTheSystemGivesIt) {
  record.pathW = u"C:\\";
  EXPECT_EQ(BrowseForFolderPath(kFakeCalls, owner, u"t"), u"C:\\");
  record.pathW = u"\\\\srv\\share\\\u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442\u044b";
  EXPECT_EQ(BrowseForFolderPath(kFakeCalls, owner, u"t"), record.pathW);
  // 259 characters fill the buffer up to its last NUL.
  record.pathW = u"D:\\" + std::u16string(256, u'x');
  EXPECT_EQ(BrowseForFolderPath(kFakeCalls, owner, u"t"), record.pathW);
}

TEST_F(ShellHelpers, CancellingOrChoosingAnItemWithoutAPathGivesNothing) {
  record.cancel = true;
  EXPECT_EQ(BrowseForFolderPath(kFakeCalls, owner, u"t"), u"");
  EXPECT_EQ(record.calls, Calls{"SHBrowseForFolderW"});

  record = ShellRecord{};
  record.pathW.clear();  // e.g. "Control Panel": the call fails and writes nothing
  EXPECT_EQ(BrowseForFolderPath(kFakeCalls, owner, u"t"), u"");
  EXPECT_EQ(record.freed, &record.item);
}

TEST_F(ShellHelpers, OnWindows95TheBrowserTakesTheAnsiCalls) {
  record.wide = false;
  record.pathA = "C:\\Mail\\Inbox";
  EXPECT_EQ(BrowseForFolderPath(kFakeCalls, owner, u"Choose Source Folder..."),
            u"C:\\Mail\\Inbox");
  EXPECT_EQ(record.calls, (Calls{"SHBrowseForFolderA", "SHGetPathFromIDListA", "CoTaskMemFree"}));
  EXPECT_EQ(record.titleA, "Choose Source Folder...");
  EXPECT_EQ(record.browseA.hwndOwner, owner);
  EXPECT_EQ(record.browseA.ulFlags, static_cast<UINT>(BIF_RETURNONLYFSDIRS));
  EXPECT_EQ(record.browseA.pidlRoot, nullptr);
  EXPECT_EQ(record.browseA.pszDisplayName, nullptr);
  EXPECT_TRUE(record.bufferWasAllNul);

  record = ShellRecord{};
  record.wide = false;
  record.cancel = true;
  EXPECT_EQ(BrowseForFolderPath(kFakeCalls, owner, u"t"), u"");
  EXPECT_EQ(record.calls, Calls{"SHBrowseForFolderA"});
}

TEST(ShellPlatform, TheNtPlatformTakesTheWideCalls) {
  // Wine, like every Windows the tests run on, is of the NT family.
  EXPECT_TRUE(ShellUsesWideCalls());
  EXPECT_EQ(RealShellCalls().useWideCalls, &ShellUsesWideCalls);
}

}  // namespace
}  // namespace mailsheaf
