#include "tests/upload/tree_upload.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>

#include "mail/file_system.h"
#include "base/text.h"
#include "cli/packer.h"
#include "upload/tree_upload_source.h"

namespace mailsheaf::upload_test {

Tree::Tree() {
  static int count = 0;
  root_ = std::filesystem::temp_directory_path() /
          ("mailsheaf-tree-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
           std::to_string(++count));
  std::filesystem::create_directories(root_);
  state_ = root_;
  state_ += "-state";
  std::filesystem::create_directories(state_);
}

Tree::~Tree() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
  std::filesystem::remove_all(state_, ignored);
}

std::string Tree::StateHome() const { return std::filesystem::path(state_).make_preferred().string(); }

void Tree::Add(const std::string& relative, const std::string& content) {
  const std::filesystem::path path = root_ / std::filesystem::u8path(relative);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::u16string Tree::Root() const {
  return (root_ / "").u16string();
}

std::u16string Tree::Path(const std::string& relative) const {
  return (root_ / std::filesystem::u8path(relative)).make_preferred().u16string();
}

void TestConsole::Out(const std::u16string& text) {
  out += Utf16ToUtf8(text);
  if (!interrupt_when.empty() && out.find(interrupt_when) != std::string::npos) *interrupted = true;
}
void TestConsole::Err(const std::u16string& text) { err += Utf16ToUtf8(text); }
bool TestConsole::Variable(const char* name, std::string& value) const {
  const std::string_view asked = name;
  if (asked == "MAILSHEAF_PASSWORD" && !password.empty()) {
    value = password;
    return true;
  }
  if ((asked == "XDG_STATE_HOME" || asked == "LOCALAPPDATA") && !state_home.empty()) {
    value = state_home;
    return true;
  }
  return false;
}

Cli RunCli(const std::vector<std::u16string>& arguments, const std::string& password,
           const std::string& state_home, const std::string& interrupt_when) {
  Cli cli;
  cli.console.password = password;
  cli.console.state_home = state_home;
  cli.console.interrupt_when = interrupt_when;
  std::atomic<bool> interrupted{false};
  cli.console.interrupted = &interrupted;
  cli.code = RunPacker(arguments, cli.console, RealFileSystem(), 1, interrupted);
  return cli;
}

std::u16string ImapsAddress() {
  return u"imaps://" + Utf8ToUtf16(TestHost()) + u":" + DecimalText(Server().imaps_port);
}

std::u16string StartTlsAddress() {
  return u"imap://" + Utf8ToUtf16(TestHost()) + u":" + DecimalText(Server().imap_port);
}

namespace {

class HookEvents final : public UploadEvents {
 public:
  explicit HookEvents(Hook hook) : hook_(std::move(hook)) {}
  Uploader* uploader = nullptr;
  void Progress(const UploadProgress& progress) override {
    if (hook_) hook_(progress, *uploader);
  }

 private:
  Hook hook_;
};

}  // namespace

bool UploadTree(const std::string& user, const Tree& tree, UploadReport& report, Hook hook) {
  HookEvents events(std::move(hook));
  Uploader uploader(&events);
  events.uploader = &uploader;
  UploadOptions options;
  options.server = Address(ImapSecurity::kTls);
  options.user = user;
  options.password = Server().password;
  options.reconnect_pause_ms = 100;
  TreeUploadSource source(RealFileSystem(), tree.Root(), 0);
  return uploader.Run(source, options, report);
}

std::map<std::u16string, std::vector<Held>> ReadBack(const std::string& user) {
  std::map<std::u16string, std::vector<Held>> held;
  Session s(Address(ImapSecurity::kTls), {}, user);
  std::vector<MailboxEntry> mailboxes;
  EXPECT_TRUE(s.imap.List(mailboxes, s.error)) << Narrow(s.error.text);
  for (const MailboxEntry& mailbox : mailboxes) {
    MailboxStatus status;
    std::vector<StoredMessage> stored;
    if (!mailbox.Selectable() || !s.imap.Select(mailbox.name, true, status, s.error) ||
        !s.imap.FetchStoredMessages(stored, s.error) || stored.empty()) {
      continue;
    }
    for (const StoredMessage& m : stored) {
      Held h;
      EXPECT_TRUE(s.imap.FetchMessage(m.uid, h.bytes, s.error)) << Narrow(s.error.text);
      h.seen = std::find(m.flags.begin(), m.flags.end(), "\\Seen") != m.flags.end();
      h.internal_date = m.internal_date;
      held[mailbox.name].push_back(std::move(h));
    }
  }
  return held;
}

}  // namespace mailsheaf::upload_test
