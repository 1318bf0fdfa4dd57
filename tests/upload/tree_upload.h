#pragma once
// What the tree upload cases share: a tree on disk, the packer run with a console of its own,
// the uploader run on its own, and an account read back.

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

 private:
  std::filesystem::path root_;
};

class TestConsole final : public Console {
 public:
  std::string password;
  std::string out;
  std::string err;
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
           const std::string& password = Server().password);
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
