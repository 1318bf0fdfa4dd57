#pragma once
// frmStep1, the program's one window, as a portable object: its state, the current state of
// its controls and its handlers. It reaches the screen, the dialogs, the shell and the message
// queue only through the ports of app/ports.h.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "app/control_id.h"
#include "app/ports.h"
#include "app/tar_component.h"
#include "fs/capabilities.h"

namespace mailsheaf {

// The window's own variables; all empty, zero or false when the window is created.
struct FrmStep1State {
  std::u16string SourceFolder;  // ends in "\" after a successful choice
  std::int32_t NextMessageNumber = 0;
  std::int32_t MessageCount = 0;
  std::int32_t FolderCount = 0;
  std::u16string TimeStamp;
  std::u16string DestinationFile;
  bool StopRequested = false;
  std::unique_ptr<TarComponent> myTar;  // the writer of the latest run
};

struct ControlState {
  std::u16string text;
  bool enabled = true;
  bool visible = true;
};

class FrmStep1 final : private ArchiveEvents, private UploadEvents {
 public:
  FrmStep1(Ui& ui, Shell& shell, Host& host, Clock& clock, TarComponentFactory& tarFactory,
           System& system);
  FrmStep1(const FrmStep1&) = delete;
  FrmStep1& operator=(const FrmStep1&) = delete;

  // The account route; without one, "Send to Mail Account..." does nothing.
  void SetAccountRoute(AccountRoute* route) { route_ = route; }

  // The real window exists from AttachView on; control changes reach it from then. Before, and
  // after DetachView, they only change the state kept here.
  void AttachView(FrmStep1View& view);
  void DetachView();

  // Life cycle and the window's own small commands.
  void Form_Initialize();
  void Form_Load();
  void Form_Unload();
  void cmdEnd_Click();
  void CmdHelp_Click();
  void Label4_Click();
  void CmdOpen_Click();

  // The conversion workflow.
  void CmdAddFolder_Click();
  void CmdConvertTGZ_Click();
  void CmdStop_Click();
  void CmdSendToAccount_Click();
  void myTar_PercentDone(std::int32_t percent);
  void myTar_ProgressInfo(const std::u16string& kind, const std::u16string& value);

  // Sends a click on the control to its handler. A control without one, and a button that is
  // disabled or hidden, ignores it.
  void Click(ControlId control);

  // The controls, as the handlers and the scan change them.
  void SetCaption(ControlId control, const std::u16string& text);
  void SetEnabled(ControlId control, bool enabled);
  void SetVisible(ControlId control, bool visible);
  void SetProgressRange(float minimum, float maximum);
  void SetProgressValue(float value);
  void SetScreenPointer(ScreenPointer pointer);
  void HideWindow();
  void FocusControl(ControlId control);
  void PaintNow();
  // The handle to give dialogs as their owner; 0 while no window is attached.
  WindowHandle OwnerWindow() const;

  const ControlState& Control(ControlId control) const;
  float ProgressMinimum() const { return progress_minimum_; }
  float ProgressMaximum() const { return progress_maximum_; }
  float ProgressValue() const { return progress_value_; }
  ScreenPointer CurrentScreenPointer() const { return screen_pointer_; }

  FrmStep1State& State() { return state_; }
  const FrmStep1State& State() const { return state_; }

 private:
  ControlState& MutableControl(ControlId control);

  // ArchiveEvents: the writer's events reach the two handlers above.
  void PercentDone(std::int32_t percent, const ArchiveProgress& progress) override;
  void ProgressInfo(const std::u16string& kind, const std::u16string& value,
                    const ArchiveProgress& progress) override;

  // UploadEvents: the upload's progress, and a stop asked for at the Stop button. Asked often,
  // also while the upload waits on the network: the window's queue gets its turn there.
  void Progress(const UploadProgress& progress) override;
  bool StopRequested() override;
  // After a click on Stop: the question, and the end of the program when it is answered Yes.
  void AskToStop();
  // The run into the account and its two boxes.
  void RunUpload(const AccountChoice& choice);

  // Counts the messages below SourceFolder; a report of what stopped it when it stopped early.
  void ScanSourceFolder();
  // The run from the chosen destination on; false when it ended in one of its error boxes.
  void RunArchive();
  // Undoes what the run changed on the window: Stop hidden, the folder choice available
  // again, Start with its own caption (and still disabled), no stop pending.
  void EndRun();
  // An error box, with the writer's reason for the failure after an empty line when it has one.
  void ShowFailure(std::u16string_view text);
  // One more box after "Completed...", only when the writer had to adjust or leave out
  // something: the counts, what was adjusted and where the report file is.
  void ShowReport();
  // Ends the process at once, first throwing away an archive still being written.
  void EndProgram();
  void ShowInformation(std::u16string_view text, std::u16string_view caption);

  Ui& ui_;
  Shell& shell_;
  Host& host_;
  Clock& clock_;
  TarComponentFactory& tar_factory_;
  AccountRoute* route_ = nullptr;
  System& system_;
  // Guards against a handler starting again inside its own yields.
  bool scanning_ = false;
  // Messages the last scan counted, by folder (see TarComponent::SetCountedMessages).
  std::map<std::u16string, std::int64_t> counted_messages_;
  bool converting_ = false;
  // Set once the process has been told to end: nothing more is done. (Only a test's host
  // returns from EndNow.)
  bool ended_ = false;
  FrmStep1View* view_ = nullptr;
  FrmStep1State state_;
  std::array<ControlState, kControlCount> controls_;
  float progress_minimum_ = 0;
  float progress_maximum_ = 100;
  float progress_value_ = 0;
  ScreenPointer screen_pointer_ = ScreenPointer::Default;
};

}  // namespace mailsheaf
