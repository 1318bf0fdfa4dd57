#pragma once
// Stand-ins for frmStep1's ports that record what the window asked of them.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <optional>
#include <string>
#include <vector>

#include "app/ports.h"
#include "app/tar_component.h"

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
  void ShowHelp(WindowHandle owner) override { helpOwners.push_back(owner); }

  MessageAnswer answer = MessageAnswer::No;
  std::function<void()> onMessage;  // runs while the box is "open"
  std::vector<MessageRequest> messages;
  std::u16string chosenFolder;
  std::vector<WindowHandle> browseOwners;
  std::vector<std::u16string> browseTitles;
  std::optional<std::u16string> savedName;
  std::vector<SaveDialogRequest> saveRequests;
  std::vector<WindowHandle> helpOwners;
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
  void YieldToQueue() override {
    calls.push_back("yield");
    if (onYieldToQueue) onYieldToQueue();
  }
  void EndNow() override { calls.push_back("end"); }

  int Count(const std::string& call) const {
    int n = 0;
    for (const auto& c : calls) n += c == call ? 1 : 0;
    return n;
  }

  std::vector<std::string> calls;
  std::function<void()> onYieldToQueue;  // messages processed during the yield
};

class FixedClock : public Clock {
 public:
  LocalTime Now() override { return now; }
  LocalTime now{2015, 1, 9, 14, 5, 7};
};

// One step of a scripted write: a percentage, or a file about to be stored.
struct TarStep {
  enum Kind { Percent, File } kind;
  std::int32_t percent = 0;
  std::u16string path;
};

// A writer that plays a script of events inside WriteCompressedArchive and records what the
// window asked of it.
class ScriptedTar : public TarComponent {
 public:
  explicit ScriptedTar(ArchiveEvents& events) : events_(events) {}

  void SetArchiveFormat(const std::u16string& format) override { formats.push_back(format); }
  std::int32_t AddRootFolder(const std::u16string& folder) override {
    roots.push_back(folder);
    return addResult;
  }
  std::int32_t WriteCompressedArchive(const std::u16string& destination) override {
    destinations.push_back(destination);
    if (onWrite) onWrite();
    ArchiveProgress progress;
    for (const TarStep& step : script) {
      if (stopped) break;  // the process has ended
      if (step.kind == TarStep::Percent) {
        events_.PercentDone(step.percent, progress);
      } else {
        progress.current_file = step.path;
        events_.ProgressInfo(u"file", step.path, progress);
      }
    }
    if (throwInWrite) throw std::runtime_error("write failed");
    return writeResult;
  }
  void SetCountedMessages(std::map<std::u16string, std::int64_t> c) override { counted = c; }
  std::u16string LastErrorText() const override { return errorText; }
  std::int64_t MessagesStored() const override { return stored; }
  RunReport Report() const override { return report; }
  std::u16string ReportFile() const override { return reportFile; }
  std::u16string ReportFileError() const override { return reportFileError; }
  void Stop() override { stopped = true; }

  std::int32_t addResult = 1;
  std::int32_t writeResult = 1;
  std::u16string errorText;
  std::int64_t stored = 0;
  std::map<std::u16string, std::int64_t> counted;
  RunReport report;
  std::u16string reportFile, reportFileError;
  bool throwInWrite = false;
  std::vector<TarStep> script;
  std::function<void()> onWrite;  // as the write begins, before its first event
  std::vector<std::u16string> formats, roots, destinations;
  bool stopped = false;

 private:
  ArchiveEvents& events_;
};

// Makes ScriptedTar writers set up by `prepare`, keeping every one it made.
class ScriptedTarFactory : public TarComponentFactory {
 public:
  std::unique_ptr<TarComponent> CreateTarComponent(ArchiveEvents& events) override {
    if (failCreation) return nullptr;
    auto tar = std::make_unique<ScriptedTar>(events);
    if (prepare) prepare(*tar);
    made.push_back(tar.get());
    return tar;
  }
  bool failCreation = false;
  std::function<void(ScriptedTar&)> prepare;
  std::vector<ScriptedTar*> made;  // owned by the window; the last one lives while it holds it
};

}  // namespace mailsheaf::testing
