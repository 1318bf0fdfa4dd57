#pragma once
// Names of the controls on frmStep1. The enumerators carry the controls' own names so that the
// handlers read like the window they drive; the order is the order of the control table.

#include <optional>

namespace mailsheaf {

enum class ControlId : int {
  Shape2,
  lblTitle,
  lblCopyright,
  Label3,
  Shape3,
  Image2,
  Label2,
  CmdAddFolder,
  Image1,
  Label4,
  Label5,
  LblSource,
  LblCount,
  Frame1,
  Label8,
  LblTarFile,
  Label1,
  ProgressBar_tgz,
  Label6,
  LblDestination,
  CmdOpen,
  CmdConvertTGZ,
  CmdSendToAccount,
  CmdStop,
  Shape1,
  Picture3,
  CmdHelp,
  cmdEnd,
};

inline constexpr int kControlCount = static_cast<int>(ControlId::cmdEnd) + 1;

constexpr int IndexOf(ControlId id) { return static_cast<int>(id); }

// Where a control sits: the window's client area or one of the two containers on it.
enum class Container { Window, Frame1, Picture3 };

// The control that is the container; none for the window.
constexpr std::optional<ControlId> ControlOf(Container container) {
  switch (container) {
    case Container::Frame1: return ControlId::Frame1;
    case Container::Picture3: return ControlId::Picture3;
    case Container::Window: break;
  }
  return std::nullopt;
}

}  // namespace mailsheaf
