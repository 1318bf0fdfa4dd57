#include "app/frm_step1.h"

#include <algorithm>
#include <map>
#include <new>
#include <optional>
#include <stdexcept>

#include "app/app_texts.h"
#include "app/control_table.h"
#include "app/time_stamp.h"
#include "base/message_name.h"
#include "base/path_forms.h"
#include "base/text.h"
#include "fs/message_scan.h"

namespace mailsheaf {
namespace {

std::u16string Text(std::u16string_view view) { return std::u16string(view); }

// The scan's view of the window: the message queue and the count line.
class CountLineScanHost final : public ScanHost {
 public:
  CountLineScanHost(FrmStep1& form, Host& host) : form_(form), host_(host) {}
  void YieldToQueue() override { host_.YieldToQueue(); }
  void SetCountCaption(const std::u16string& caption) override {
    form_.SetCaption(ControlId::LblCount, caption);
  }
  // Kept by folder below the chosen one, as the writer names folders, so that its report can
  // say where any message counted here went.
  void FolderCounted(const std::u16string& path, int32_t messages) override {
    if (messages == 0 || path.size() < root_size_) return;
    std::u16string folder = path.substr(root_size_);
    std::replace(folder.begin(), folder.end(), u'\\', u'/');
    counted_[folder] += messages;
  }
  void SetRoot(size_t size) { root_size_ = size; }

  std::map<std::u16string, std::int64_t> counted_;

 private:
  size_t root_size_ = 0;

 private:
  FrmStep1& form_;
  Host& host_;
};

}  // namespace

FrmStep1::FrmStep1(Ui& ui, Shell& shell, Host& host, Clock& clock, TarComponentFactory& tarFactory,
                   System& system)
    : ui_(ui), shell_(shell), host_(host), clock_(clock), tar_factory_(tarFactory),
      system_(system) {
  for (const ControlDesign& row : ControlTable()) {
    ControlState& control = MutableControl(row.id);
    control.text = std::u16string(row.text);
    control.enabled = row.enabled;
    control.visible = row.visible;
  }
}

void FrmStep1::AttachView(FrmStep1View& view) { view_ = &view; }

void FrmStep1::DetachView() { view_ = nullptr; }

void FrmStep1::Form_Initialize() {
  host_.InitCommonControls();
  host_.YieldToQueue();
}

void FrmStep1::Form_Load() { state_.StopRequested = false; }

void FrmStep1::Form_Unload() { EndProgram(); }

void FrmStep1::cmdEnd_Click() {
  const MessageAnswer answer =
      ui_.ShowMessage({Text(kExitQuestion), Text(kAppTitle), MessageButtons::YesNo,
                       MessageIcon::Question});
  if (answer == MessageAnswer::Yes) EndProgram();
}

// The help ships inside the program: it reads offline and always tells of this version.
void FrmStep1::CmdHelp_Click() { ui_.ShowHelp(OwnerWindow()); }

void FrmStep1::Label4_Click() { ui_.ShowHelp(OwnerWindow()); }

void FrmStep1::CmdOpen_Click() { shell_.ShellOpen(FolderOfPath(state_.DestinationFile)); }

void FrmStep1::CmdAddFolder_Click() {
  // The button is disabled while a scan or a write runs; a click that still gets through (one
  // queued before it was disabled) must not reset the counters in use.
  if (ended_ || scanning_ || converting_) return;

  for (ControlId path : {ControlId::LblSource, ControlId::LblTarFile, ControlId::LblDestination}) {
    SetCaption(path, Text(kNotSelected));
  }
  SetCaption(ControlId::LblCount, u"");

  state_.SourceFolder = ui_.BrowseForFolderPath(OwnerWindow(), Text(kChooseSourceTitle));
  if (state_.SourceFolder.empty()) return;
  EnsureTrailingBackslash(state_.SourceFolder);

  scanning_ = true;
  SetEnabled(ControlId::CmdAddFolder, false);
  SetEnabled(ControlId::CmdConvertTGZ, false);
  // Disabling the folder button sends the focus on to Exit, where one stray Enter asks to exit
  // with Yes the default. The count line takes no key, and it is what changes meanwhile.
  FocusControl(ControlId::LblCount);
  SetScreenPointer(ScreenPointer::Hourglass);
  host_.YieldToQueue();
  SetCaption(ControlId::LblSource, state_.SourceFolder);
  ScanSourceFolder();
}

void FrmStep1::ScanSourceFolder() {
  std::u16string root = state_.SourceFolder;
  const std::u16string pattern = Text(kMessagePattern);
  state_.NextMessageNumber = 1;
  state_.FolderCount = 0;
  host_.YieldToQueue();

  std::optional<std::u16string_view> failure;
  try {
    counted_messages_.clear();
    CountLineScanHost scanHost(*this, host_);
    EnsureTrailingBackslash(root);
    scanHost.SetRoot(root.size());
    ScanMessageFolder(system_, root, pattern, state_.NextMessageNumber, state_.FolderCount,
                      scanHost);
    counted_messages_ = std::move(scanHost.counted_);
  } catch (const std::overflow_error&) {
    failure = kScanOverflow;
  } catch (const std::bad_alloc&) {
    failure = kScanOutOfMemory;
  } catch (...) {
    failure = kScanFailed;
  }
  scanning_ = false;
  if (ended_) return;

  state_.MessageCount = state_.NextMessageNumber - 1;
  SetScreenPointer(ScreenPointer::Default);
  SetEnabled(ControlId::CmdAddFolder, true);
  if (failure) {
    // What was counted stays on show; nothing half-counted may be converted.
    SetEnabled(ControlId::CmdConvertTGZ, false);
    FocusControl(ControlId::CmdAddFolder);
    ShowInformation(*failure, kAppTitle);
    return;
  }

  const bool anyMessage = state_.MessageCount >= 1;
  SetEnabled(ControlId::CmdConvertTGZ, anyMessage);
  // The focus left the folder button when it was disabled for the scan. With messages counted,
  // converting them is what the user came for, so Enter after the count box starts it; without,
  // choosing another folder is the next step.
  FocusControl(anyMessage ? ControlId::CmdConvertTGZ : ControlId::CmdAddFolder);
  host_.YieldToQueue();
  SetCaption(ControlId::LblCount, DecimalText(state_.MessageCount) + Text(kMessagesAnd) +
                                      DecimalText(state_.FolderCount) + Text(kFoldersQueued));
  ui_.ShowMessage({DecimalText(state_.MessageCount) + Text(kMessagesQueued), Text(kAppTitle),
                   MessageButtons::Ok, MessageIcon::None});
}

void FrmStep1::CmdConvertTGZ_Click() {
  if (ended_ || scanning_ || converting_) return;

  state_.TimeStamp = FormatTimeStamp(clock_.Now());
  const std::optional<std::u16string> chosen = ui_.ShowSaveDialog(
      {OwnerWindow(), Text(kSaveFilter),
       Text(kProposedNameStart) + state_.TimeStamp + Text(kArchiveExtension)});
  if (!chosen) return;
  state_.DestinationFile = *chosen;
  if (state_.DestinationFile.empty()) return;

  converting_ = true;
  SetEnabled(ControlId::CmdOpen, true);
  SetCaption(ControlId::LblDestination, state_.DestinationFile);
  SetCaption(ControlId::CmdConvertTGZ, Text(kPleaseWait));
  SetEnabled(ControlId::CmdAddFolder, false);
  SetProgressRange(0, 100);
  host_.YieldToQueue();
  if (ended_) return;
  SetEnabled(ControlId::CmdConvertTGZ, false);
  // Preparing the archive can take long on a slow or network folder before the writer's first
  // event yields: "Please Wait..." must be on screen by then.
  PaintNow();
  RunArchive();
  converting_ = false;
  if (ended_) return;
  // During the run the focus waited on a button that stayed available, Exit among them. A
  // finished archive enables Start again and is followed by opening its folder; after a failure
  // choosing a folder again is the way on.
  FocusControl(Control(ControlId::CmdConvertTGZ).enabled ? ControlId::CmdOpen
                                                         : ControlId::CmdAddFolder);
}

void FrmStep1::RunArchive() {
  // Creating the writer, setting its format and adding the root: a step that fails is
  // skipped, and only the root's outcome decides.
  state_.myTar.reset();
  try {
    state_.myTar = tar_factory_.CreateTarComponent(*this);
  } catch (...) {
    state_.myTar.reset();
  }
  std::int32_t added = 0;
  if (state_.myTar) {
    SetCaption(ControlId::LblTarFile, Text(kReadingMessageFolders));
    try {
      state_.myTar->SetArchiveFormat(Text(kArchiveFormat));
    } catch (...) {
    }
    try {
      added = state_.myTar->AddRootFolder(state_.SourceFolder);
    } catch (...) {
      added = 0;
    }
  }
  if (added == 1) {
    try {
      state_.myTar->SetCountedMessages(counted_messages_);
    } catch (...) {
    }
  }
  if (added != 1) {
    EndRun();
    ShowFailure(kErrorReadingMessages);
    return;
  }

  try {
    SetVisible(ControlId::CmdStop, true);
    // Enter during the run should ask to stop, not to exit, where disabling Start sent it.
    FocusControl(ControlId::CmdStop);
    const std::int32_t written = state_.myTar->WriteCompressedArchive(state_.DestinationFile);
    if (ended_) return;
    EndRun();
    if (written != 1) {
      ShowFailure(kErrorCreatingArchive);
      return;
    }
    ShowInformation(kCompletedText, kCompletedCaption);
    ShowReport();
    if (ended_) return;
    SetEnabled(ControlId::CmdConvertTGZ, true);
  } catch (...) {
    if (ended_) return;
    EndRun();
    ShowInformation(kFileErrorText, kFileErrorCaption);
  }
}

void FrmStep1::EndRun() {
  // In this order the focus leaving the hidden Stop finds the folder button, not Exit.
  SetEnabled(ControlId::CmdAddFolder, true);
  SetVisible(ControlId::CmdStop, false);
  // A later selection enables Start again, whatever this run left it reading.
  SetCaption(ControlId::CmdConvertTGZ, Text(kStartConversion));
  // A click on Stop after the run's last file has nothing left to stop, least of all the next run.
  state_.StopRequested = false;
}

void FrmStep1::ShowFailure(std::u16string_view text) {
  // The user learns what to fix: the writer's reason follows the box's own text.
  std::u16string shown = Text(text);
  std::u16string reason;
  try {
    if (state_.myTar) reason = state_.myTar->LastErrorText();
  } catch (...) {
  }
  if (!reason.empty()) shown += u"\r\n\r\n" + reason;
  ShowInformation(shown, kAppTitle);
}

void FrmStep1::ShowReport() {
  RunReport report;
  std::int64_t stored = 0;
  std::u16string file, file_error;
  try {
    report = state_.myTar->Report();
    stored = state_.myTar->MessagesStored();
    file = state_.myTar->ReportFile();
    file_error = state_.myTar->ReportFileError();
  } catch (...) {
    return;
  }
  // Fewer stored than counted is never empty: the writer was told what the scan counted.
  if (report.Empty()) return;
  std::u16string text = DecimalText(state_.MessageCount) + Text(kReportQueued) +
                        DecimalText(stored) + Text(kReportStored) + u"\r\n" +
                        ReportSummary(report) + u"\r\n\r\n";
  text += file.empty() ? Text(kReportNotWritten) + file_error
                       : Text(kReportWhere) + u"\r\n" + file;
  ShowInformation(text, kAppTitle);
}

void FrmStep1::CmdStop_Click() { state_.StopRequested = true; }

void FrmStep1::myTar_PercentDone(std::int32_t percent) {
  if (ended_) return;
  SetProgressValue(static_cast<float>(std::clamp(percent, 0, 100)));
  SetCaption(ControlId::CmdConvertTGZ, Text(kConversionInProgress));
  host_.YieldToQueue();
}

void FrmStep1::myTar_ProgressInfo(const std::u16string& /*kind*/, const std::u16string& value) {
  if (ended_) return;
  SetCaption(ControlId::LblTarFile, value);
  AskToStop();
  if (!ended_) host_.YieldToQueue();
}

void FrmStep1::AskToStop() {
  if (!state_.StopRequested) return;
  const MessageAnswer answer = ui_.ShowMessage(
      {Text(kStopQuestion), Text(kAppTitle), MessageButtons::YesNo, MessageIcon::Question});
  if (answer == MessageAnswer::Yes) {
    HideWindow();
    EndProgram();
    return;
  }
  // Asked again at every file, the question would leave Yes the only way out of it: No lets
  // the run carry on, and only another click on Stop asks again.
  state_.StopRequested = false;
}

void FrmStep1::PercentDone(std::int32_t percent, const ArchiveProgress&) {
  myTar_PercentDone(percent);
}

void FrmStep1::ProgressInfo(const std::u16string& kind, const std::u16string& value,
                            const ArchiveProgress&) {
  myTar_ProgressInfo(kind, value);
}

void FrmStep1::EndProgram() {
  ended_ = true;
  if (state_.myTar) {
    try {
      state_.myTar->Stop();
    } catch (...) {
    }
  }
  host_.EndNow();
}

void FrmStep1::ShowInformation(std::u16string_view text, std::u16string_view caption) {
  ui_.ShowMessage({Text(text), Text(caption), MessageButtons::Ok, MessageIcon::Information});
}

void FrmStep1::Click(ControlId control) {
  const ControlState& state = Control(control);
  if (!state.enabled || !state.visible) return;
  switch (control) {
    case ControlId::CmdAddFolder: CmdAddFolder_Click(); break;
    case ControlId::CmdConvertTGZ: CmdConvertTGZ_Click(); break;
    case ControlId::CmdSendToAccount: CmdSendToAccount_Click(); break;
    case ControlId::CmdStop: CmdStop_Click(); break;
    case ControlId::CmdOpen: CmdOpen_Click(); break;
    case ControlId::CmdHelp: CmdHelp_Click(); break;
    case ControlId::cmdEnd: cmdEnd_Click(); break;
    case ControlId::Label4: Label4_Click(); break;
    default: break;
  }
}

void FrmStep1::SetCaption(ControlId control, const std::u16string& text) {
  MutableControl(control).text = text;
  if (view_) view_->SetText(control, text);
}

void FrmStep1::SetEnabled(ControlId control, bool enabled) {
  MutableControl(control).enabled = enabled;
  if (view_) view_->SetEnabled(control, enabled);
  // Both routes take the same counted folder: the account's is available exactly when Start is.
  if (control == ControlId::CmdConvertTGZ) SetEnabled(ControlId::CmdSendToAccount, enabled);
}

void FrmStep1::SetVisible(ControlId control, bool visible) {
  MutableControl(control).visible = visible;
  if (view_) view_->SetVisible(control, visible);
}

void FrmStep1::SetProgressRange(float minimum, float maximum) {
  progress_minimum_ = minimum;
  progress_maximum_ = maximum;
  if (view_) view_->SetProgressRange(minimum, maximum);
}

void FrmStep1::SetProgressValue(float value) {
  progress_value_ = value;
  if (view_) view_->SetProgressValue(value);
}

void FrmStep1::SetScreenPointer(ScreenPointer pointer) {
  screen_pointer_ = pointer;
  if (view_) view_->SetScreenPointer(pointer);
}

void FrmStep1::HideWindow() {
  if (view_) view_->HideWindow();
}

void FrmStep1::FocusControl(ControlId control) {
  if (view_) view_->FocusControl(control);
}

void FrmStep1::PaintNow() {
  if (view_) view_->PaintNow();
}

WindowHandle FrmStep1::OwnerWindow() const { return view_ ? view_->OwnerWindow() : 0; }

const ControlState& FrmStep1::Control(ControlId control) const {
  return controls_[static_cast<std::size_t>(IndexOf(control))];
}

ControlState& FrmStep1::MutableControl(ControlId control) {
  return controls_[static_cast<std::size_t>(IndexOf(control))];
}

}  // namespace mailsheaf
