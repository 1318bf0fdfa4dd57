#pragma once
// The seams through which frmStep1 reaches the world: its window on screen, the dialogs and
// message boxes, the shell, and the thread's message queue and the process. Production binds
// the Win32 implementations in app/win32/; tests bind fakes.
//
// Handlers may run inside other handlers: Host::YieldToQueue processes pending window messages,
// and a click processed there runs its handler before YieldToQueue returns. Implementations must allow that
// (no locks, no iterators held across a call).

#include <cstdint>
#include <optional>
#include <string>

#include "app/account_route.h"
#include "app/control_id.h"

namespace mailsheaf {

// A window handle as a number, so that the portable code can pass one along.
using WindowHandle = std::uintptr_t;

enum class ScreenPointer { Default, Hourglass };

class FrmStep1View {
 public:
  virtual ~FrmStep1View() = default;
  virtual void SetText(ControlId control, const std::u16string& text) = 0;
  virtual void SetEnabled(ControlId control, bool enabled) = 0;
  virtual void SetVisible(ControlId control, bool visible) = 0;
  virtual void SetProgressRange(float minimum, float maximum) = 0;
  virtual void SetProgressValue(float value) = 0;
  // The pointer shown over every window of the program, whatever lies under it.
  virtual void SetScreenPointer(ScreenPointer pointer) = 0;
  virtual void HideWindow() = 0;
  // Gives the keyboard focus to the control (Enter presses a focused button).
  virtual void FocusControl(ControlId control) = 0;
  // Paints every change made so far, at once and without processing any input: for a state
  // that must be on screen before a step that gives the message queue no turn.
  virtual void PaintNow() = 0;
  // The window that owns dialogs opened on the user's behalf.
  virtual WindowHandle OwnerWindow() const = 0;
};

enum class MessageButtons { Ok, YesNo };  // the first button is the default
enum class MessageIcon { None, Information, Question };
enum class MessageAnswer { Ok, Yes, No };

struct MessageRequest {
  std::u16string text;
  std::u16string caption;
  MessageButtons buttons = MessageButtons::Ok;
  MessageIcon icon = MessageIcon::None;
  friend bool operator==(const MessageRequest&, const MessageRequest&) = default;
};

struct SaveDialogRequest {
  WindowHandle owner = 0;
  // Description and pattern pairs, every part separated by "|": "Archives (*.tgz)|*.tgz".
  std::u16string filter;
  std::u16string proposedName;
};

class Ui {
 public:
  virtual ~Ui() = default;
  virtual MessageAnswer ShowMessage(const MessageRequest& request) = 0;
  // The chosen folder's path, or the empty text when nothing was chosen.
  virtual std::u16string BrowseForFolderPath(WindowHandle owner, const std::u16string& title) = 0;
  // The chosen file name, or nothing when the dialog was cancelled or failed.
  virtual std::optional<std::u16string> ShowSaveDialog(const SaveDialogRequest& request) = 0;
  // The account dialog, filled with `initial`: its OK runs `check` (which may add a certificate
  // the person chose to trust to the choice) and closes it only once the check logged in; a
  // failure is shown in the dialog, with what was typed kept. Nothing when cancelled.
  virtual std::optional<AccountChoice> ShowAccountDialog(WindowHandle /*owner*/,
                                                         const AccountChoice& /*initial*/,
                                                         AccountCheck& /*check*/) {
    return std::nullopt;
  }
  // Shows the program's own help, in a window of its own that `owner` keeps above it; one
  // already open comes to the front.
  virtual void ShowHelp(WindowHandle owner) = 0;
};

class Shell {
 public:
  virtual ~Shell() = default;
  // Opens a document, folder or web address with the shell's "open" action; reports nothing.
  virtual void ShellOpen(const std::u16string& target) = 0;
};

// A moment of the local calendar, as the save dialog's proposed name shows it.
struct LocalTime {
  int year = 0;  // four digits
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;
  int second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
};

class Host {
 public:
  virtual ~Host() = default;
  virtual void InitCommonControls() = 0;
  // Processes every window message pending for this thread once, then returns. (Not "Yield":
  // <windows.h> defines that as an empty macro.)
  virtual void YieldToQueue() = 0;
  // Ends the process at once: no further handler runs. Only a test's host returns from it.
  virtual void EndNow() = 0;
};

}  // namespace mailsheaf
