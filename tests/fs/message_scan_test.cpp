#include "fs/message_scan.h"

#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <climits>
#include <new>

#include "base/text.h"
#include "fs/capabilities.h"
#include "tests/support/fake_system.h"

namespace mailsheaf {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakeSystem;
using testing::ScopedFakeSystem;

class RecordingHost : public ScanHost {
 public:
  explicit RecordingHost(std::vector<std::string>* log = nullptr) : log_(log) {}

  void YieldToQueue() override {
    ++yields;
    if (log_ != nullptr) log_->push_back("yield");
  }
  void SetCountCaption(const std::u16string& caption) override {
    captions.push_back(caption);
    if (log_ != nullptr) log_->push_back("caption " + Utf16ToUtf8(caption));
  }
  void FolderCounted(const std::u16string& path, int32_t messages) override {
    if (messages > 0) counted.push_back(Utf16ToUtf8(path) + " " + std::to_string(messages));
  }

  int yields = 0;
  std::vector<std::string> counted;
  std::vector<std::u16string> captions;

 private:
  std::vector<std::string>* log_;
};

std::u16string Caption(int n) { return DecimalText(n) + u" Messages Queued for Conversion."; }

struct ScanResult {
  int32_t messages;
  int32_t folders;
  std::u16string path;
};

ScanResult Scan(System& system, std::u16string path, ScanHost& host,
                const std::u16string& pattern = u"*.eml") {
  ScanResult r{1, 0, path};
  ScanMessageFolder(system, r.path, pattern, r.messages, r.folders, host);
  return r;
}

// Every listing the scan opened was closed, each exactly once.
void ExpectListingsClosed(const FakeSystem& fake) {
  EXPECT_EQ(fake.openListings(), 0);
  EXPECT_EQ(fake.misuse, 0);
}

bool WasListed(const FakeSystem& fake, const std::u16string& searchPath) {
  for (const auto& c : fake.calls) {
    if (c.function == "FindFirstFileW" && c.path == searchPath) return true;
  }
  return false;
}

class SampleTreeScan : public ::testing::TestWithParam<bool> {};

TEST_P(SampleTreeScan, CountsMessagesDepthFirstInAnyListingOrder) {
  ScopedFakeSystem fake;
  fake->reverseListingOrder = GetParam();
  fake->AddFile(u"C:\\root\\a.eml");
  fake->AddFile(u"C:\\root\\sub\\b.eml");
  fake->AddFile(u"C:\\root\\sub\\deeper\\c.eml");
  fake->AddFolder(u"C:\\root\\empty");
  fake->AddFile(u"C:\\root\\__MACOSX\\._a.eml");  // the archive leaves it out, so does the count
  std::vector<std::string> log;
  fake->sharedLog = &log;
  RecordingHost host(&log);

  const ScanResult r = Scan(fake, u"C:\\root", host);

  EXPECT_EQ(r.path, u"C:\\root\\");
  EXPECT_EQ(r.messages, 4);
  EXPECT_EQ(r.folders, 3);
  EXPECT_THAT(host.captions, ElementsAre(Caption(1), Caption(2), Caption(3)));
  // Each caption belongs to the message whose attributes were read just before it.
  std::vector<std::string> captioned;
  std::string lastQuery;
  for (const auto& line : log) {
    if (line.rfind("GetFileAttributesW ", 0) == 0) lastQuery = line.substr(19);
    if (line.rfind("caption ", 0) == 0) captioned.push_back(lastQuery);
  }
  EXPECT_THAT(captioned, ElementsAre("C:\\root\\a.eml", "C:\\root\\sub\\b.eml",
                                     "C:\\root\\sub\\deeper\\c.eml"));
  EXPECT_TRUE(WasListed(*fake, u"C:\\root\\empty\\*"));
  EXPECT_THAT(host.counted, ::testing::UnorderedElementsAre(
                                "C:\\root\\ 1", "C:\\root\\sub\\ 1", "C:\\root\\sub\\deeper\\ 1"));
  EXPECT_EQ(fake->CountCalls("FolderIdentityW"), 0);  // no links, no identity checks
  ExpectListingsClosed(*fake);
}

INSTANTIATE_TEST_SUITE_P(ListingOrder, SampleTreeScan, ::testing::Values(false, true),
                         [](const auto& order) { return order.param ? "Reversed" : "AsCreated"; });

TEST(ScanMessageFolder, YieldsAndCallsInTheirPrescribedOrder) {
  ScopedFakeSystem fake;
  fake->AddFile(u"C:\\root\\a.eml");
  fake->AddFolder(u"C:\\root\\sub");
  ASSERT_TRUE(fake.WideCallsInUse());
  std::vector<std::string> log;
  fake->sharedLog = &log;
  RecordingHost host(&log);

  Scan(fake, u"C:\\root\\", host);

  EXPECT_THAT(log, ElementsAre(
      "yield",
      "FindFirstFileW C:\\root\\*",
      "yield", "FindNextFileW",                                    // .
      "yield", "FindNextFileW",                                    // ..
      "yield", "yield", "GetFileAttributesW C:\\root\\a.eml", "FindNextFileW",
      "yield", "yield", "GetFileAttributesW C:\\root\\sub", "yield", "FindNextFileW",
      "FindClose",
      "FindFirstFileW C:\\root\\*.eml",
      "yield",
      "yield", "GetFileAttributesW C:\\root\\a.eml", "yield",
      "caption 1 Messages Queued for Conversion.", "FindNextFileW",
      "FindClose",
      "yield",                                                     // sub-folders follow
      "yield",                                                     // before sub
      "yield",
      "FindFirstFileW C:\\root\\sub\\*",
      "yield", "FindNextFileW",
      "yield", "FindNextFileW",
      "FindClose",
      "FindFirstFileW C:\\root\\sub\\*.eml"));
}

TEST(ScanMessageFolder, EmptyRootChangesNothing) {
  ScopedFakeSystem fake;
  fake->AddFile(u"C:\\root\\notes.txt");
  RecordingHost host;
  const ScanResult r = Scan(fake, u"C:\\root\\", host);
  EXPECT_EQ(r.path, u"C:\\root\\");
  EXPECT_EQ(r.messages, 1);
  EXPECT_EQ(r.folders, 0);
  EXPECT_THAT(host.captions, IsEmpty());
  EXPECT_GT(host.yields, 0);
}

TEST(ScanMessageFolder, FoldersAreToldByTheirAttributesNotByTheirNames) {
  ScopedFakeSystem fake;
  fake->AddFile(u"C:\\root\\mail.eml\\inner.eml");   // a folder that matches the pattern
  fake->AddFile(u"C:\\root\\X.EML");                  // the system's match ignores case
  fake->AddFile(u"C:\\root\\b.emlx");                 // no match
  fake->AddFile(u"C:\\root\\hidden.eml", kFileAttributeHidden | kFileAttributeSystem);
  fake->AddFile(u"C:\\root\\secret\\c.eml");
  fake->AddFolder(u"C:\\root\\secret", kFileAttributeHidden | kFileAttributeSystem);
  RecordingHost host;

  const ScanResult r = Scan(fake, u"C:\\root\\", host);

  EXPECT_EQ(r.folders, 2);   // mail.eml, secret
  EXPECT_EQ(r.messages, 5);  // X.EML, hidden.eml, mail.eml\inner.eml, secret\c.eml
  ASSERT_EQ(host.captions.size(), 4u);
  EXPECT_EQ(host.captions.back(), Caption(4));
  ExpectListingsClosed(*fake);
}

// The system's listing matches the pattern against 8.3 aliases too. A name that is no message
// but whose alias ends in .EML is listed, and must not be counted: the archive would leave it
// out, and the count would promise one message more than it holds.
TEST(ScanMessageFolder, AnEntryCountsOnlyWhenItsLongNameMatches) {
  ScopedFakeSystem fake;
  fake->AddFile(u"C:\\root\\longname_message.emlx", 0, u"LONGNA~1.EML");
  fake->AddFile(u"C:\\root\\d.eml ", 0, u"D~1.EML");
  fake->AddFile(u"C:\\root\\sub\\notes.eml.txt", 0, u"NOTESE~1.EML");
  fake->AddFile(u"C:\\root\\a long message name.eml", 0, u"ALONGM~1.EML");
  fake->AddFile(u"C:\\root\\sub\\Report.Eml", 0, u"REPORT~1.TXT");  // odd alias, real message
  RecordingHost host;

  const ScanResult r = Scan(fake, u"C:\\root\\", host);

  EXPECT_EQ(r.messages, 3);  // counted from 1: the two whose long names end in .eml
  EXPECT_EQ(r.folders, 1);
  EXPECT_THAT(host.captions, ElementsAre(Caption(1), Caption(2)));
  ASSERT_TRUE(WasListed(*fake, u"C:\\root\\*.eml"));
  ExpectListingsClosed(*fake);
}

TEST(ScanMessageFolder, DotEntriesAreQueriedButNeverQueued) {
  ScopedFakeSystem fake;
  fake->AddFile(u"C:\\root\\a.txt");
  fake->AddFolder(u"C:\\root\\sub");
  RecordingHost host;
  const ScanResult r = Scan(fake, u"C:\\root\\", host, u"*");
  EXPECT_EQ(r.messages, 2);  // a.txt only
  EXPECT_EQ(r.folders, 1);
  // In the message pass every entry is queried, the dot entries included.
  int dotQueries = 0;
  for (const auto& c : fake->calls) {
    if (c.function == "GetFileAttributesW" && (c.path.ends_with(u"\\.") || c.path.ends_with(u"\\.."))) {
      ++dotQueries;
    }
  }
  EXPECT_EQ(dotQueries, 4);  // . and .. of root and of sub
}

TEST(ScanMessageFolder, UnreadableEntriesAndListingsYieldNothingButCount) {
  ScopedFakeSystem fake;
  fake->AddFile(u"C:\\root\\locked\\x.eml");
  fake->FailListingOf(u"C:\\root\\locked");
  fake->AddFile(u"C:\\root\\ghost.eml");
  fake->FailAttributesOf(u"C:\\root\\ghost.eml");
  fake->AddFile(u"C:\\root\\ok.eml");
  RecordingHost host;

  const ScanResult r = Scan(fake, u"C:\\root\\", host);

  // locked is counted and not listed; ghost.eml is taken as a folder, descended, and not queued.
  EXPECT_EQ(r.folders, 2);
  EXPECT_EQ(r.messages, 2);
  EXPECT_TRUE(WasListed(*fake, u"C:\\root\\ghost.eml\\*"));
  ExpectListingsClosed(*fake);
}

TEST(ScanMessageFolder, ListingThatFailsPartWayIsCutShortSilently) {
  ScopedFakeSystem fake;
  fake->listDotEntries = false;
  for (auto name : {u"a.eml", u"b.eml", u"c.eml"}) {
    fake->AddFile(std::u16string(u"C:\\root\\") + name);
  }
  fake->FailListingAfter(u"C:\\root", 2);
  RecordingHost host;
  EXPECT_EQ(Scan(fake, u"C:\\root\\", host).messages, 3);
  ExpectListingsClosed(*fake);
}

TEST(ScanMessageFolder, PathsPast260AreScannedToTheEnd) {
  ScopedFakeSystem fake;
  std::u16string deep = u"C:\\root";
  for (int i = 0; i < 40; ++i) deep += u"\\folder-number-" + DecimalText(i);
  ASSERT_GT(deep.size(), 600u);
  fake->AddFile(deep + u"\\bottom.eml");
  RecordingHost host;
  const ScanResult r = Scan(fake, u"C:\\root", host);
  EXPECT_EQ(r.folders, 40);
  EXPECT_EQ(r.messages, 2);
}

TEST(ScanMessageFolder, MessageCounterOverflowReachesTheCallerAndClosesTheListing) {
  ScopedFakeSystem fake;
  fake->AddFile(u"C:\\root\\sub\\a.eml");
  fake->AddFile(u"C:\\root\\sub\\b.eml");
  fake->AddFile(u"C:\\root\\sub\\c.eml");
  fake->AddFile(u"C:\\root\\later\\d.eml");
  RecordingHost host;
  std::u16string path = u"C:\\root\\";
  int32_t messages = INT32_MAX - 1;
  int32_t folders = 0;

  try {
    ScanMessageFolder(fake, path, u"*.eml", messages, folders, host);
    FAIL() << "no overflow";
  } catch (const std::overflow_error&) {
  }

  EXPECT_EQ(messages, INT32_MAX);
  EXPECT_EQ(folders, 2);
  EXPECT_THAT(host.captions, ElementsAre(Caption(INT32_MAX - 1), Caption(INT32_MAX)));
  EXPECT_FALSE(WasListed(*fake, u"C:\\root\\later\\*"));  // abandoned at every depth
  ExpectListingsClosed(*fake);
}

TEST(ScanMessageFolder, FolderCounterOverflowLeavesTheCounterAtItsLimit) {
  ScopedFakeSystem fake;
  fake->AddFolder(u"C:\\root\\one");
  fake->AddFolder(u"C:\\root\\two");
  RecordingHost host;
  std::u16string path = u"C:\\root\\";
  int32_t messages = 1;
  int32_t folders = INT32_MAX - 1;
  EXPECT_THROW(ScanMessageFolder(fake, path, u"*.eml", messages, folders, host), CounterOverflow);
  EXPECT_EQ(folders, INT32_MAX);
  ExpectListingsClosed(*fake);
}

TEST(ScanMessageFolder, AnyErrorFromTheWindowLeavesNoListingOpen) {
  // Fails in the middle of the message listing of a sub-folder, as lack of memory might.
  class FailingHost : public RecordingHost {
   public:
    explicit FailingHost(const FakeSystem& fake) : fake_(fake) {}
    void YieldToQueue() override {
      if (!fake_.calls.empty() && fake_.calls.back().path == u"C:\\root\\sub\\b.eml" && fake_.openListings() == 1) {
        throw std::bad_alloc();
      }
    }

   private:
    const FakeSystem& fake_;
  };
  ScopedFakeSystem fake;
  fake->AddFile(u"C:\\root\\a.eml");
  fake->AddFile(u"C:\\root\\sub\\b.eml");
  fake->AddFile(u"C:\\root\\sub\\c.eml");
  FailingHost host(*fake);
  std::u16string path = u"C:\\root\\";
  int32_t messages = 1;
  int32_t folders = 0;
  EXPECT_THROW(ScanMessageFolder(fake, path, u"*.eml", messages, folders, host), std::bad_alloc);
  EXPECT_EQ(messages, 2);
  ExpectListingsClosed(*fake);
}

TEST(ScanMessageFolder, LinksBackUpTheTreeAreCountedButNotWalked) {
  ScopedFakeSystem fake;
  fake->AddFile(u"C:\\root\\a.eml");
  fake->AddFile(u"C:\\root\\sub\\b.eml");
  fake->AddFolderLink(u"C:\\root\\sub\\back", u"C:\\root");      // to an ancestor
  fake->AddFolderLink(u"C:\\root\\sub\\self", u"C:\\root\\sub");  // to the folder holding it
  fake->AddFile(u"C:\\root\\elsewhere\\c.eml");
  fake->AddFolderLink(u"C:\\root\\other", u"C:\\root\\elsewhere");  // a sibling: walked
  RecordingHost host;

  const ScanResult r = Scan(fake, u"C:\\root\\", host);

  EXPECT_EQ(r.folders, 5);   // sub, elsewhere, other, back, self
  EXPECT_EQ(r.messages, 5);  // a, b, c, and c again through other
  EXPECT_FALSE(WasListed(*fake, u"C:\\root\\sub\\back\\*"));
  EXPECT_FALSE(WasListed(*fake, u"C:\\root\\sub\\self\\*"));
  EXPECT_TRUE(WasListed(*fake, u"C:\\root\\other\\*.eml"));
  ExpectListingsClosed(*fake);
}

// The fake's own guard against a walk that never ends, which is what a fault in the rule above
// would cause: the test fails and the walk stops with every listing closed.
TEST(ScanMessageFolder, AWalkPastTheFakesStepCapFailsTheTestInsteadOfRunningOn) {
  ScopedFakeSystem fake;
  fake->findCallCap = 4;
  fake->AddFile(u"C:\\root\\a.eml");
  fake->AddFile(u"C:\\root\\sub\\b.eml");
  RecordingHost host;
  EXPECT_NONFATAL_FAILURE(
      EXPECT_THROW(Scan(fake, u"C:\\root\\", host), FakeSystem::RunawayWalk),
      "the walk does not end");
  ExpectListingsClosed(*fake);
}

TEST(ScanMessageFolder, LinksAreWalkedAnsiRouteToo) {
  ScopedFakeSystem fake;
  fake->platformId = 1;
  fake->AddFile(u"C:\\root\\sub\\b.eml");
  fake->AddFolderLink(u"C:\\root\\sub\\back", u"C:\\root");
  RecordingHost host;
  const ScanResult r = Scan(fake, u"C:\\root\\", host);
  EXPECT_EQ(r.folders, 2);
  EXPECT_EQ(r.messages, 2);
  EXPECT_GT(fake->CountCalls("FolderIdentityA"), 0);
  EXPECT_EQ(fake->CountCalls("FolderIdentityW"), 0);
}

}  // namespace
}  // namespace mailsheaf
