// The packer killed (SIGKILL) half-way through the trap tree, then run again: the journal lost
// at most what was in flight, and every message is in the account exactly once. Native only,
// as the killing is.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/text.h"
#include "upload/journal_file.h"
#include "cli/packer.h"
#include "tests/upload/trap_tree.h"

namespace mailsheaf::upload_test {
namespace {

size_t JournalLines(const std::filesystem::path& folder) {
  size_t lines = 0;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    std::ifstream file(entry.path());
    for (std::string line; std::getline(file, line);) lines += line.starts_with("e ");
  }
  return lines;
}

TEST(TrapTreeKilled, AKilledPackerIsFinishedByTheNextRunWithEveryMessageOnce) {
  for (const Layout layout : kLayouts) {
    SCOPED_TRACE(LayoutName(layout));
    const std::string user = "mailsheaf-11";
    Tree tree;
    std::vector<TrapFile> files = TrapFiles(layout);
    std::string body;
    for (int line = 0; line < 100; ++line) body += std::string(98, 'k') + "\r\n";
    for (int n = 0; n < 300; ++n) {
      files.push_back({"Bulk/" + std::to_string(1000 + n) + ".eml",
                       TrapMessage(std::to_string(n), "<k" + std::to_string(n) + "@trap>", kMarch3,
                                   body),
                       "Bulk", true, kMarch3});
    }
    for (const TrapFile& f : files) tree.Add(f.path, f.bytes);
    AgeTrapFiles(tree);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      setenv("MAILSHEAF_PASSWORD", Server(layout).password.c_str(), 1);
      setenv("XDG_STATE_HOME", tree.StateHome().c_str(), 1);
      const std::string address = "imaps://127.0.0.1:" + std::to_string(Server(layout).imaps_port);
      const std::string root = Utf16ToUtf8(tree.Root());
      const int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, 1);
      dup2(quiet, 2);
      execl(MAILSHEAF_PACK_BINARY, MAILSHEAF_PACK_BINARY, "--imap", address.c_str(), "--user",
            user.c_str(), "--trust-certificate", Server(layout).fingerprint.c_str(), root.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    const std::filesystem::path journals = std::filesystem::path(tree.StateHome()) / "mailsheaf";
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (JournalLines(journals) < 100 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the packer ended before it could be killed";

    const Cli again = RunTrapCli(layout, user, tree);
    EXPECT_EQ(again.code, kExitSuccess) << again.console.out << again.console.err;
    EXPECT_THAT(again.console.out, ::testing::HasSubstr(" 0 refused, 0 not added."));
    ExpectHeldOnce(layout, user, files);
  }
}

}  // namespace
}  // namespace mailsheaf::upload_test
