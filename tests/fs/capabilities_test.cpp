#include "fs/capabilities.h"

#include <gtest/gtest.h>

#include "base/path_forms.h"
#include "tests/support/fake_system.h"

namespace mailsheaf {
namespace {

using testing::FakeSystem;
using testing::ScopedFakeSystem;

std::vector<std::string> VersionCalls(const FakeSystem& fake) {
  std::vector<std::string> names;
  for (const auto& c : fake.calls) {
    if (c.function.rfind("GetVersion", 0) == 0) {
      names.push_back(c.function);
    }
  }
  return names;
}

void ExpectWideFlags(const System& system, bool expected) {
  EXPECT_EQ(system.Capabilities().UseGetFileAttributesW, expected);
  EXPECT_EQ(system.Capabilities().UseFindFirstFileW, expected);
  EXPECT_EQ(system.Capabilities().UseFindNextFileW, expected);
}

TEST(DetectCapabilities, NtPlatformTakesTheWideCallsAndReleasesKernel32) {
  ScopedFakeSystem fake;
  fake.DetectCapabilities();

  EXPECT_TRUE(fake.Capabilities().CapabilitiesDetected);
  EXPECT_TRUE(fake.Capabilities().HasGetVersionExA);
  EXPECT_TRUE(fake.Capabilities().HasGetVersionExW);
  EXPECT_EQ(fake.Capabilities().HostOSVersion.PlatformId, 2);
  EXPECT_TRUE(fake.Capabilities().HostOSVersion.IsNT);
  ExpectWideFlags(fake, true);
  EXPECT_EQ(VersionCalls(*fake), std::vector<std::string>{"GetVersionExW"});
  // Looked up A before W, and the library released after the version was read.
  std::vector<std::string> order;
  for (const auto& c : fake->calls) order.push_back(c.function);
  EXPECT_EQ(order, (std::vector<std::string>{"LoadLibraryA kernel32", "GetProcAddress GetVersionExA",
                                             "GetProcAddress GetVersionExW", "GetVersionExW",
                                             "FreeLibrary"}));
}

TEST(DetectCapabilities, Windows95FamilyKeepsTheAnsiCalls) {
  ScopedFakeSystem fake;
  fake->platformId = 1;
  fake.DetectCapabilities();
  EXPECT_EQ(fake.Capabilities().HostOSVersion.PlatformId, 1);
  EXPECT_FALSE(fake.Capabilities().HostOSVersion.IsNT);
  ExpectWideFlags(fake, false);
}

TEST(DetectCapabilities, GetVersionAloneDecidesByBit31) {
  {
    ScopedFakeSystem fake;
    fake->exports.clear();
    fake->getVersionValue = 0xC0000A04;  // Windows 98: bit 31 set
    fake.DetectCapabilities();
    EXPECT_FALSE(fake.Capabilities().HasGetVersionExA);
    EXPECT_FALSE(fake.Capabilities().HasGetVersionExW);
    EXPECT_EQ(fake.Capabilities().HostOSVersion.PlatformId, 1);
    ExpectWideFlags(fake, false);
    EXPECT_EQ(VersionCalls(*fake), std::vector<std::string>{"GetVersion"});
  }
  {
    ScopedFakeSystem fake;
    fake->exports.clear();
    fake->getVersionValue = 0x0A280105;
    fake.DetectCapabilities();
    EXPECT_EQ(fake.Capabilities().HostOSVersion.PlatformId, 2);
    ExpectWideFlags(fake, true);
  }
}

TEST(DetectCapabilities, FailingGetVersionExIsGivenUpForTheNextSource) {
  {
    ScopedFakeSystem fake;
    fake->getVersionExWSucceeds = false;
    fake->platformId = 1;
    fake.DetectCapabilities();
    EXPECT_FALSE(fake.Capabilities().HasGetVersionExW);
    EXPECT_TRUE(fake.Capabilities().HasGetVersionExA);
    EXPECT_EQ(fake.Capabilities().HostOSVersion.PlatformId, 1);
    EXPECT_EQ(VersionCalls(*fake), (std::vector<std::string>{"GetVersionExW", "GetVersionExA"}));
    // A later query starts from the source that still works.
    EXPECT_EQ(fake.QueryOSVersion().PlatformId, 1);
    EXPECT_EQ(fake->CountCalls("GetVersionExW"), 1);
  }
  {
    ScopedFakeSystem fake;
    fake->getVersionExWSucceeds = false;
    fake->getVersionExASucceeds = false;
    fake.DetectCapabilities();
    EXPECT_FALSE(fake.Capabilities().HasGetVersionExW);
    EXPECT_FALSE(fake.Capabilities().HasGetVersionExA);
    EXPECT_EQ(VersionCalls(*fake),
              (std::vector<std::string>{"GetVersionExW", "GetVersionExA", "GetVersion"}));
    EXPECT_TRUE(fake.Capabilities().HostOSVersion.IsNT);
    ExpectWideFlags(fake, true);
  }
}

TEST(DetectCapabilities, WithoutKernel32EverythingStaysAnsiAndIsNotRetried) {
  ScopedFakeSystem fake;
  fake->kernel32Loads = false;
  fake->AddFile(u"C:\\m\\a.eml");
  EXPECT_EQ(fake.QueryFileAttributes(u"C:\\m\\a.eml"), 0x20);
  fake.QueryFileAttributes(u"C:\\m\\a.eml");

  EXPECT_TRUE(fake.Capabilities().CapabilitiesDetected);
  EXPECT_FALSE(fake.Capabilities().HasGetVersionExW);
  EXPECT_EQ(fake.Capabilities().HostOSVersion.PlatformId, 0);
  ExpectWideFlags(fake, false);
  EXPECT_EQ(fake->CountCalls("LoadLibraryA kernel32"), 1);
  EXPECT_EQ(fake->CountCalls("FreeLibrary"), 0);
  EXPECT_EQ(fake->CountCalls("GetFileAttributesA"), 2);
}

TEST(DetectCapabilities, RunsOnceLazilyFromTheFirstQuery) {
  ScopedFakeSystem fake;
  fake->AddFolder(u"C:\\m");
  EXPECT_FALSE(fake.Capabilities().CapabilitiesDetected);
  EXPECT_TRUE(fake.WideCallsInUse());
  EXPECT_TRUE(fake.Capabilities().CapabilitiesDetected);
  fake.QueryFileAttributes(u"C:\\m");
  fake.QueryFileAttributes(u"C:\\m");
  EXPECT_TRUE(fake.WideCallsInUse());
  EXPECT_EQ(fake->CountCalls("LoadLibraryA kernel32"), 1);
  EXPECT_EQ(VersionCalls(*fake).size(), 1u);
}

TEST(QueryFileAttributes, WideRouteGetsTheLongPathBufferOfThePath) {
  ScopedFakeSystem fake;
  const std::u16string path = u"C:\\\u041f\u043e\u0447\u0442\u0430\\\u03b1.eml";  // not in the code page
  fake->AddFile(path, 0x02);
  EXPECT_EQ(fake.QueryFileAttributes(path), 0x22);
  ASSERT_EQ(fake->CountCalls("GetFileAttributesW"), 1);
  EXPECT_EQ(fake->calls.back().widePath, LongPathBuffer(path));
  EXPECT_EQ(fake->CountCalls("GetFileAttributesA"), 0);

  // Past 260 characters as well.
  std::u16string deep = u"C:";
  while (deep.size() < 400) deep += u"\\folder-with-a-long-name";
  fake->AddFolder(deep);
  EXPECT_EQ(fake.QueryFileAttributes(deep), 0x10);
}

TEST(QueryFileAttributes, AnsiRouteGetsTheCodePageBytes) {
  ScopedFakeSystem fake;
  fake->platformId = 1;
  fake->AddFile(u"C:\\Gr\u00fc\u00dfe\\a.eml");
  EXPECT_EQ(fake.QueryFileAttributes(u"C:\\Gr\u00fc\u00dfe\\a.eml"), 0x20);
  ASSERT_FALSE(fake->calls.empty());
  EXPECT_EQ(fake->calls.back().function, "GetFileAttributesA");
  EXPECT_EQ(fake->calls.back().ansiPath, std::string("C:\\Gr\xfc\xdf" "e\\a.eml", 14) + '\0');
  EXPECT_EQ(fake->CountCalls("GetFileAttributesW"), 0);

  // A character the code page lacks arrives as its substitute, and that name does not exist.
  fake->AddFile(u"C:\\\u03b1.eml");
  EXPECT_EQ(fake.QueryFileAttributes(u"C:\\\u03b1.eml"), -1);
  EXPECT_EQ(fake->calls.back().ansiPath, std::string("C:\\?.eml") + '\0');
}

TEST(QueryFileAttributes, MissingPathGivesAllBitsSet) {
  ScopedFakeSystem fake;
  EXPECT_EQ(fake.QueryFileAttributes(u"C:\\nowhere"), -1);
  fake->AddFile(u"C:\\locked.eml");
  fake->FailAttributesOf(u"C:\\locked.eml");
  EXPECT_EQ(fake.QueryFileAttributes(u"C:\\locked.eml"), -1);
}

}  // namespace
}  // namespace mailsheaf
