#pragma once
// What the tree upload cases share: a tree on disk, the packer run with a console of its own,
// the uploader run on its own, and an account read back.

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cli/console.h"
#include "tests/upload/test_server.h"
#include "upload/uploader.h"

namespace mailsheaf::upload_test {

class Tree {
 public:
  Tree();
  ~Tree();
  void Add(const std::string& relative, const std::string& content);
  std::u16string Root() const;  // ends with the separator
  std::u16string Path(const std::string& relative) const;
  // A folder of its own for the packer's journal, as a user's home would hold it.
  std::string StateHome() const;

 private:
  std::filesystem::path root_;
  std::filesystem::path state_;
};

class TestConsole final : public Console {
 public:
  std::string password;
  std::string state_home;  // XDG_STATE_HOME and LOCALAPPDATA; none when empty
  std::string out;
  std::string err;
  // A Ctrl+C as soon as the output holds this.
  std::string interrupt_when;
  std::atomic<bool>* interrupted = nullptr;
  bool IsTerminal() const override { return false; }
  int Width() const override { return 80; }
  void Out(const std::u16string& text) override;
  void Err(const std::u16string& text) override;
  bool Variable(const char* name, std::string& value) const override;
};

struct Cli {
  int code = -1;
  TestConsole console;
};
Cli RunCli(const std::vector<std::u16string>& arguments,
           const std::string& password = Server().password, const std::string& state_home = "",
           const std::string& interrupt_when = "");
std::u16string ImapsAddress();
std::u16string StartTlsAddress();

// The uploader on the tree, the fixture's CA trusted; `hook` sees every event.
using Hook = std::function<void(const UploadProgress&, Uploader&)>;
bool UploadTree(const std::string& user, const Tree& tree, UploadReport& report, Hook hook = {});

struct Held {
  std::string bytes;
  bool seen = false;
  int64_t internal_date = 0;
};
// Every selectable mailbox's messages, in UID order.
std::map<std::u16string, std::vector<Held>> ReadBack(const std::string& user);

}  // namespace mailsheaf::upload_test
