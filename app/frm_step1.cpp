#include "app/frm_step1.h"

#include "app/app_texts.h"
#include "app/control_table.h"
#include "fs/path_helpers.h"

namespace mailsheaf {

FrmStep1::FrmStep1(Ui& ui, Shell& shell, Host& host) : ui_(ui), shell_(shell), host_(host) {
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
  host_.Yield();
}

void FrmStep1::Form_Load() { state_.StopRequested = false; }

void FrmStep1::Form_Unload() { host_.EndNow(); }

void FrmStep1::cmdEnd_Click() {
  const MessageAnswer answer =
      ui_.ShowMessage({std::u16string(kExitQuestion), std::u16string(kAppTitle),
                       MessageButtons::YesNo, MessageIcon::Question});
  if (answer == MessageAnswer::Yes) host_.EndNow();
}

void FrmStep1::CmdHelp_Click() { shell_.ShellOpen(std::u16string(kHelpAddress)); }

void FrmStep1::Label4_Click() { shell_.ShellOpen(std::u16string(kHelpAddress)); }

void FrmStep1::CmdOpen_Click() { shell_.ShellOpen(FolderOfPath(state_.DestinationFile)); }

void FrmStep1::CmdAddFolder_Click() {}

void FrmStep1::CmdConvertTGZ_Click() {}

void FrmStep1::CmdStop_Click() { state_.StopRequested = true; }

void FrmStep1::Click(ControlId control) {
  switch (control) {
    case ControlId::CmdAddFolder: CmdAddFolder_Click(); break;
    case ControlId::CmdConvertTGZ: CmdConvertTGZ_Click(); break;
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
}

void FrmStep1::SetVisible(ControlId control, bool visible) {
  MutableControl(control).visible = visible;
  if (view_) view_->SetVisible(control, visible);
}

void FrmStep1::SetProgressRange(float minimum, float maximum) {
  progressMinimum_ = minimum;
  progressMaximum_ = maximum;
  if (view_) view_->SetProgressRange(minimum, maximum);
}

void FrmStep1::SetProgressValue(float value) {
  progressValue_ = value;
  if (view_) view_->SetProgressValue(value);
}

void FrmStep1::SetScreenPointer(ScreenPointer pointer) {
  screenPointer_ = pointer;
  if (view_) view_->SetScreenPointer(pointer);
}

void FrmStep1::HideWindow() {
  if (view_) view_->HideWindow();
}

WindowHandle FrmStep1::OwnerWindow() const { return view_ ? view_->OwnerWindow() : 0; }

const ControlState& FrmStep1::Control(ControlId control) const {
  return controls_[static_cast<std::size_t>(IndexOf(control))];
}

ControlState& FrmStep1::MutableControl(ControlId control) {
  return controls_[static_cast<std::size_t>(IndexOf(control))];
}

}  // namespace mailsheaf
