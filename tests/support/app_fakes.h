#pragma once
// Stand-ins for frmStep1's ports that record what the window asked of them.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/ports.h"

namespace mailsheaf::testing {

class RecordingUi : public Ui {
 public:
  MessageAnswer ShowMessage(const MessageRequest& request) override {
    messages.push_back(request);
    if (onMessage) onMessage();
    return answer;
  }
  std::u16string BrowseForFolderPath(WindowHandle owner, const std::u16string& title) override {
    browseOwners.push_back(owner);
    browseTitles.push_back(title);
    return chosenFolder;
  }
  std::optional<std::u16string> ShowSaveDialog(const SaveDialogRequest& request) override {
    saveRequests.push_back(request);
    return savedName;
  }

  MessageAnswer answer = MessageAnswer::No;
  std::function<void()> onMessage;  // runs while the box is "open"
  std::vector<MessageRequest> messages;
  std::u16string chosenFolder;
  std::vector<WindowHandle> browseOwners;
  std::vector<std::u16string> browseTitles;
  std::optional<std::u16string> savedName;
  std::vector<SaveDialogRequest> saveRequests;
};

class RecordingShell : public Shell {
 public:
  void ShellOpen(const std::u16string& target) override { opened.push_back(target); }
  std::vector<std::u16string> opened;
};

// Records the host calls in order: "init", "yield", "end".
class RecordingHost : public Host {
 public:
  void InitCommonControls() override { calls.push_back("init"); }
  void Yield() override {
    calls.push_back("yield");
    if (onYield) onYield();
  }
  void EndNow() override { calls.push_back("end"); }

  int Count(const std::string& call) const {
    int n = 0;
    for (const auto& c : calls) n += c == call ? 1 : 0;
    return n;
  }

  std::vector<std::string> calls;
  std::function<void()> onYield;  // messages processed during the yield
};

}  // namespace mailsheaf::testing
