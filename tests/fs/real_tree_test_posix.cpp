// The scan over a real folder tree through the native binding.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "base/text.h"
#include "fs/capabilities.h"
#include "fs/message_scan.h"

namespace mailsheaf {
namespace {

namespace fs = std::filesystem;

class CountingHost : public ScanHost {
 public:
  // A walk caught in a link cycle would run for hours on a real tree: far past anything these
  // trees need, it fails the test and stops.
  void YieldToQueue() override {
    if (++yields_ > 100000) {
      ADD_FAILURE() << "the walk does not end";
      throw std::runtime_error("too many steps");
    }
  }
  void SetCountCaption(const std::u16string& caption) override { last = caption; }
  std::u16string last;

 private:
  int yields_ = 0;
};

class RealTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("mailsheaf-scan-" + std::to_string(std::random_device{}()));
    fs::create_directories(root_);
  }
  void TearDown() override {
    fs::remove_all(root_);
  }
  void Touch(const fs::path& relative) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << "Subject: x\r\n\r\n";
  }
  std::u16string Root() const { return Utf8ToUtf16(root_.string()); }

  fs::path root_;
  System system_{PlatformSystemCalls()};  // detected afresh for each test
};

TEST_F(RealTree, CountsLikeTheNtPlatformAndStopsAtLinksBackUp) {
  Touch("a.eml");
  Touch("sub/B.EML");
  Touch("sub/note.txt");
  Touch("sub/deeper/c.eml");
  Touch("\xd0\x9f\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0/\xe9\x82\xae.eml");
  fs::create_directories(root_ / "empty");
  fs::create_directories(root_ / "box.eml");
  fs::create_directory_symlink(root_, root_ / "sub" / "up");
  fs::create_directory_symlink(root_ / "sub", root_ / "sub" / "deeper" / "again");
  Touch("elsewhere/x.eml");
  fs::create_directory_symlink(root_ / "elsewhere", root_ / "side");

  CountingHost host;
  std::u16string path = Root();
  int32_t messages = 1;
  int32_t folders = 0;
  ScanMessageFolder(system_, path, u"*.eml", messages, folders, host);

  EXPECT_TRUE(system_.WideCallsInUse());
  EXPECT_EQ(path, Root() + u"\\");
  // Folders: sub, deeper, the Cyrillic one, empty, box.eml, elsewhere, side, and the links up
  // and again, which lead back up the tree and are not walked.
  EXPECT_EQ(folders, 9);
  // Messages: a, B, c, the CJK one, and x twice (in elsewhere and through side).
  EXPECT_EQ(messages, 7);
  EXPECT_EQ(host.last, u"6 Messages Queued for Conversion.");
}

// Only names that end in ".eml", in any case, are messages: the binding matches the pattern
// against the name as the directory holds it, trailing space and all.
TEST_F(RealTree, NearMissNamesAreNotMessages) {
  for (const char* name : {"a.em", ".em", "b.emlx", "c.eml.txt", "d.eml ", "eml", "e.eml."}) {
    Touch(name);
  }
  Touch(".EML");
  Touch("F.Eml");

  CountingHost host;
  std::u16string path = Root();
  int32_t messages = 1;
  int32_t folders = 0;
  ScanMessageFolder(system_, path, u"*.eml", messages, folders, host);

  EXPECT_EQ(folders, 0);
  EXPECT_EQ(messages, 3);
  EXPECT_EQ(host.last, u"2 Messages Queued for Conversion.");
}

}  // namespace
}  // namespace mailsheaf
