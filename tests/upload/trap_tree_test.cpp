// The tree that broke the resume, through every way the fixture runs Dovecot: look-alikes from
// two folders meeting in one mailbox, a look-alike added later that sorts first, messages with
// an unusable date and a file time before 1970, unread ones (which mbox storage rewrites), a
// folder name holding the server's delimiter. Run, run again, a run stopped with Ctrl+C and
// run again: every message in the account exactly once, read back byte for byte, with its
// read state and its date.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "base/text.h"
#include "cli/packer.h"
#include "tests/upload/trap_tree.h"

namespace mailsheaf::upload_test {
namespace {

using ::testing::HasSubstr;

TEST(TrapTree, EveryMessageOnceInEveryLayoutRunAfterRunAndAfterAStop) {
  for (const Layout layout : kLayouts) {
    SCOPED_TRACE(LayoutName(layout));
    ASSERT_NE(Server(layout).imaps_port, 0) << "the Dovecot fixture did not run";
    const std::string user = "mailsheaf-10";
    Tree tree;
    std::vector<TrapFile> files = TrapFiles(layout);
    const std::string count = std::to_string(files.size());
    for (const TrapFile& f : files) tree.Add(f.path, f.bytes);
    AgeTrapFiles(tree);
    const auto run = [&](const char* expected, const std::string& interrupt_when = "") {
      const Cli cli = RunTrapCli(layout, user, tree, interrupt_when);
      EXPECT_THAT(cli.console.out, HasSubstr(expected)) << cli.console.err;
      return cli.code;
    };
    EXPECT_EQ(run((count + " added, 0 already there").c_str()), kExitSuccess);
    EXPECT_EQ(run(("0 added, " + count + " already there").c_str()), kExitSuccess);
    // A look-alike of the top-level message, in Inbox/ and sorting first there.
    files.push_back({"Inbox/0.eml", TrapMessage("0", "<same@trap>", kMarch3, "look-alike 0"),
                     "INBOX", true, kMarch3});
    tree.Add(files.back().path, files.back().bytes);
    EXPECT_EQ(run(("1 added, " + count + " already there").c_str()), kExitSuccess);
    // Ctrl+C once twelve messages are done, then the same command again.
    for (int n = 0; n < 30; ++n) {
      const std::string path = "Bulk/" + std::to_string(100 + n) + ".eml";
      files.push_back({path, TrapMessage(std::to_string(n), "<bulk" + std::to_string(n) + "@trap>",
                                         kMarch3, std::string(3000, 'b')),
                       "Bulk", true, kMarch3});
      tree.Add(path, files.back().bytes);
    }
    EXPECT_EQ(run("", "  12 messages  "), kExitInterrupted);
    EXPECT_EQ(run(" added, "), kExitSuccess);
    ExpectHeldOnce(layout, user, files);
  }
}

}  // namespace
}  // namespace mailsheaf::upload_test
