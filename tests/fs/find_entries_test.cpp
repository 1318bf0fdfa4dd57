#include "fs/find_entries.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/path_forms.h"
#include "fs/capabilities.h"
#include "tests/support/fake_system.h"

namespace mailsheaf {
namespace {

using testing::ScopedFakeSystem;

std::vector<std::u16string> ListAll(System& system, const std::u16string& searchPath,
                                    FindState& state) {
  std::vector<std::u16string> names;
  if (FindFirstEntry(system, searchPath, state) == -1) {
    return names;
  }
  do {
    names.push_back(state.Name);
  } while (FindNextEntry(system, state) != 0);
  return names;
}

TEST(FindEntries, WideRouteListsExactNamesAndClosesTheEndedListingOnce) {
  ScopedFakeSystem fake;
  const std::u16string folder = u"C:\\\u041f\u043e\u0447\u0442\u0430";
  fake->AddFile(folder + u"\\\u90ae\u4ef6.eml");
  fake->AddFile(folder + u"\\\u03b1\u03b2\u03b3.eml");
  fake->AddFile(folder + u"\\caf\u00e9.eml");

  FindState state;
  const FindHandle handle = FindFirstEntry(fake, folder + u"\\*.eml", state);
  // The very first listing of the process already takes the wide call.
  ASSERT_FALSE(fake->calls.empty());
  ASSERT_EQ(fake->calls.front().function, "LoadLibraryA kernel32");
  ASSERT_EQ(fake->CountCalls("FindFirstFileA"), 0);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(state.SearchHandle, handle);
  EXPECT_EQ(fake->calls.back().widePath, LongPathBuffer(folder + u"\\*.eml"));
  EXPECT_EQ(state.Name, u"\u90ae\u4ef6.eml");

  EXPECT_NE(FindNextEntry(fake, state), 0);
  EXPECT_EQ(state.Name, u"\u03b1\u03b2\u03b3.eml");
  EXPECT_NE(FindNextEntry(fake, state), 0);
  EXPECT_EQ(state.Name, u"caf\u00e9.eml");
  EXPECT_EQ(fake->openListings(), 1);

  EXPECT_EQ(FindNextEntry(fake, state), 0);
  EXPECT_EQ(state.SearchHandle, 0);
  EXPECT_EQ(state.Name, u"caf\u00e9.eml");  // a failed call leaves the name alone
  EXPECT_EQ(fake->closesOf(handle), 1);
  EXPECT_EQ(fake->openListings(), 0);
  EXPECT_EQ(fake->CountCalls("FindNextFileW"), 3);
  EXPECT_EQ(fake->misuse, 0);
}

TEST(FindEntries, AnsiRouteSendsCodePageBytesAndGetsSubstitutesBack) {
  ScopedFakeSystem fake;
  fake->platformId = 1;
  fake->AddFile(u"C:\\M\u00e4il\\\u90ae\u4ef6.eml");
  fake->AddFile(u"C:\\M\u00e4il\\caf\u00e9.eml");

  FindState state;
  EXPECT_EQ(ListAll(fake, u"C:\\M\u00e4il\\*", state),
            (std::vector<std::u16string>{u".", u"..", u"??.eml", u"caf\u00e9.eml"}));
  const auto first = std::find_if(fake->calls.begin(), fake->calls.end(),
                                  [](const auto& c) { return c.function == "FindFirstFileA"; });
  ASSERT_NE(first, fake->calls.end());
  EXPECT_EQ(first->ansiPath, std::string("C:\\M\xe4il\\*", 9) + '\0');
  EXPECT_EQ(fake->CountCalls("FindNextFileA"), 4);
  EXPECT_EQ(fake->CountCalls("FindFirstFileW") + fake->CountCalls("FindNextFileW"), 0);
  EXPECT_EQ(fake->openListings(), 0);
  EXPECT_EQ(fake->misuse, 0);
}

TEST(FindEntries, NothingToListLeavesMinusOne) {
  ScopedFakeSystem fake;
  fake->AddFile(u"C:\\m\\note.txt");
  FindState state;
  state.Name = u"before";
  EXPECT_EQ(FindFirstEntry(fake, u"C:\\m\\*.eml", state), -1);
  EXPECT_EQ(state.SearchHandle, -1);
  EXPECT_EQ(state.Name, u"before");
  EXPECT_EQ(FindFirstEntry(fake, u"C:\\missing\\*", state), -1);
  fake->FailListingOf(u"C:\\m");
  EXPECT_EQ(FindFirstEntry(fake, u"C:\\m\\*", state), -1);
  EXPECT_EQ(fake->CountCalls("FindClose"), 0);
}

TEST(FindEntries, CloseFindCallsTheSystemOnlyForAnOpenListing) {
  ScopedFakeSystem fake;
  fake->AddFile(u"C:\\m\\a.eml");
  fake->AddFile(u"C:\\m\\b.eml");

  FindState fresh;
  EXPECT_TRUE(CloseFind(fake, fresh));
  EXPECT_EQ(fresh.SearchHandle, -1);
  EXPECT_TRUE(CloseFind(fake, fresh));
  EXPECT_EQ(fake->CountCalls("FindClose"), 0);

  FindState state;
  const FindHandle handle = FindFirstEntry(fake, u"C:\\m\\*.eml", state);
  EXPECT_TRUE(CloseFind(fake, state));
  EXPECT_EQ(state.SearchHandle, -1);
  EXPECT_EQ(fake->closesOf(handle), 1);
  EXPECT_TRUE(CloseFind(fake, state));
  EXPECT_EQ(fake->closesOf(handle), 1);

  // A handle the system does not know is reported as a failed close, and still dropped.
  FindState stale;
  stale.SearchHandle = 0x7777;
  EXPECT_FALSE(CloseFind(fake, stale));
  EXPECT_EQ(stale.SearchHandle, -1);
}

TEST(FindEntries, FailureInsideAListingEndsItLikeItsEnd) {
  ScopedFakeSystem fake;
  for (auto name : {u"a.eml", u"b.eml", u"c.eml", u"d.eml"}) {
    fake->AddFile(std::u16string(u"C:\\m\\") + name);
  }
  fake->FailListingAfter(u"C:\\m", 2);
  FindState state;
  EXPECT_EQ(ListAll(fake, u"C:\\m\\*.eml", state),
            (std::vector<std::u16string>{u"a.eml", u"b.eml"}));
  EXPECT_EQ(state.SearchHandle, 0);
  EXPECT_EQ(state.Name, u"b.eml");
  EXPECT_EQ(fake->CountCalls("FindClose"), 1);
  EXPECT_EQ(fake->openListings(), 0);
}

TEST(FindEntries, OneRecordServesListingsOneAfterAnother) {
  ScopedFakeSystem fake;
  fake->AddFolder(u"C:\\m\\sub");
  fake->AddFile(u"C:\\m\\a.eml");
  FindState state;
  EXPECT_EQ(ListAll(fake, u"C:\\m\\*", state).size(), 4u);
  EXPECT_EQ(ListAll(fake, u"C:\\m\\*.eml", state), std::vector<std::u16string>{u"a.eml"});
  EXPECT_EQ(fake->CountCalls("FindClose"), 2);
  EXPECT_EQ(fake->misuse, 0);
}

TEST(FindEntries, PathsPast260AreListedOnTheWideRouteOnly) {
  std::u16string deep = u"C:";
  while (deep.size() < 300) deep += u"\\abcdefghij";
  {
    ScopedFakeSystem fake;
    fake->AddFile(deep + u"\\x.eml");
    FindState state;
    EXPECT_EQ(ListAll(fake, deep + u"\\*.eml", state), std::vector<std::u16string>{u"x.eml"});
  }
  {
    ScopedFakeSystem fake;
    fake->platformId = 1;
    fake->AddFile(deep + u"\\x.eml");
    FindState state;
    EXPECT_EQ(FindFirstEntry(fake, deep + u"\\*.eml", state), -1);
  }
}

TEST(FindEntries, LongestNameComesBackWhole) {
  ScopedFakeSystem fake;
  const std::u16string longest(259, u'n');
  fake->AddFile(u"C:\\m\\" + longest);
  FindState state;
  ASSERT_NE(FindFirstEntry(fake, u"C:\\m\\n*", state), -1);
  EXPECT_EQ(state.Name, longest);
  CloseFind(fake, state);
}

}  // namespace
}  // namespace mailsheaf
