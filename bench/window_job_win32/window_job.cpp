// The window's whole job, timed: the real window, shown and drawn, clicked as a person clicks
// it. "Select folder having (*.eml) file(s)..." scans the tree and ends with the count box;
// "Start Conversion" writes the archive and ends with the "Completed..." box. The real scan and
// the real archive writer run on real files; only the folder browser, the save dialog and the
// message boxes are stand-ins (they answer at once), and the process is not really ended.
//
//   window_job.exe [--hidden] FOLDER DESTINATION MESSAGES FOLDERS
//
// --hidden leaves the window off screen (nothing is drawn), to tell the drawing's share.
// Prints the time of each click, the total, the count box's text and the completion box's
// caption. Exits with 1 when the counts are not MESSAGES and FOLDERS or the write did not
// complete, 2 on bad arguments or when the window cannot be made.

#include "app/win32/windows_api.h"

#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "app/archive_tar_component.h"
#include "app/frm_step1.h"
#include "app/win32/main_window.h"
#include "app/win32/message_pump.h"
#include "app/win32/win32_clock.h"
#include "base/text.h"
#include "bench/support/stopwatch_win32.h"
#include "base/win32/wide.h"
#include "tests/support/app_fakes.h"
#include "tests/support/pumping_host_win32.h"

namespace mailsheaf {
namespace {

using testing::RecordingShell;
using testing::RecordingUi;

using testing::PumpingHost;

using bench::Seconds;

std::string Shown(const std::u16string& text) {
  std::string shown;
  for (char c : Utf16ToUtf8(text)) {
    if (c == '\r') continue;
    shown += c == '\n' ? std::string(" | ") : std::string(1, c);
  }
  return shown;
}

std::u16string TextOf(HWND control) {
  std::u16string text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, u'\0');
  text.resize(static_cast<size_t>(
      GetWindowTextW(control, WideBuffer(text), static_cast<int>(text.size()))));
  return text;
}

int Run(bool hidden, const std::u16string& folder, const std::u16string& destination,
        long long messages, long long folders) {
  RecordingUi ui;
  RecordingShell shell;
  PumpingHost host;
  Win32Clock clock;
  ArchiveTarComponentFactory tars;
  FrmStep1 form{ui, shell, host, clock, tars, PlatformSystem()};
  form.Form_Initialize();

  MainWindowOptions options;
  options.resources = GetModuleHandleW(nullptr);
  std::unique_ptr<MainWindow> window = MainWindow::Create(form, options);
  if (!window) {
    std::fprintf(stderr, "the window could not be made\n");
    return 2;
  }
  host.translator = window.get();
  form.Form_Load();
  if (!hidden) {
    window->Show(SW_SHOWNOACTIVATE);
    UpdateWindow(window->Handle());
  }
  PumpPendingMessages(window.get());
  if (IsWindowVisible(window->Handle()) == hidden) {
    std::fprintf(stderr, hidden ? "the window is on screen\n" : "the window is not on screen\n");
    return 2;
  }

  auto click = [&](ControlId id) {
    SendMessageW(window->ControlWindow(id), BM_CLICK, 0, 0);
  };

  // The scan: the browser answers with FOLDER as a person would choose it.
  ui.chosenFolder = folder;
  host.yields = 0;
  const double scanStart = Seconds();
  click(ControlId::CmdAddFolder);
  const double scanSeconds = Seconds() - scanStart;
  const std::u16string countBox = ui.messages.empty() ? u"(no box)" : ui.messages.back().text;
  const std::u16string countLabel = TextOf(window->ControlWindow(ControlId::LblCount));
  const long long scanYields = host.yields;
  const FrmStep1State& state = form.State();
  const bool countsRight = ui.messages.size() == 1 && state.MessageCount == messages &&
                           state.FolderCount == folders;
  PumpPendingMessages(window.get());

  // The write: the save dialog answers with DESTINATION.
  ui.savedName = destination;
  ui.messages.clear();
  host.yields = 0;
  const double writeStart = Seconds();
  click(ControlId::CmdConvertTGZ);
  const double writeSeconds = Seconds() - writeStart;
  const long long writeYields = host.yields;
  const std::u16string completion =
      ui.messages.empty() ? u"(no box)" : ui.messages.front().caption;
  const LRESULT bar =
      SendMessageW(window->ControlWindow(ControlId::ProgressBar_tgz), PBM_GETPOS, 0, 0);
  const bool completed = !ui.messages.empty() && completion == u"Completed..." &&
                         host.ends == 0 && bar == 100;

  std::printf("scan  (select folder):    %9.3f s   (%lld yields)\n", scanSeconds, scanYields);
  std::printf("write (start conversion): %9.3f s   (%lld yields)\n", writeSeconds, writeYields);
  std::printf("total:                    %9.3f s\n", scanSeconds + writeSeconds);
  std::printf("count box: \"%s\"\n", Shown(countBox).c_str());
  std::printf("count label: \"%s\"\n", Shown(countLabel).c_str());
  std::printf("completion box caption: \"%s\"\n", Shown(completion).c_str());
  for (size_t i = 1; i < ui.messages.size(); ++i) {
    std::printf("then a box: \"%s\"\n", Shown(ui.messages[i].text).c_str());
  }
  std::printf("progress bar at %ld\n", static_cast<long>(bar));
  std::fflush(stdout);

  int status = 0;
  if (!countsRight) {
    std::fprintf(stderr, "counted %ld messages and %ld folders, expected %lld and %lld\n",
                 static_cast<long>(state.MessageCount), static_cast<long>(state.FolderCount),
                 messages, folders);
    status = 1;
  }
  if (!completed) {
    std::fprintf(stderr, "the write did not complete\n");
    status = 1;
  }
  return status;
}

}  // namespace
}  // namespace mailsheaf

int wmain(int argc, wchar_t** argv) {
  const bool hidden = argc > 1 && std::wcscmp(argv[1], L"--hidden") == 0;
  if (hidden) {
    --argc;
    ++argv;
  }
  if (argc != 5) {
    std::fprintf(stderr, "usage: window_job.exe [--hidden] FOLDER DESTINATION MESSAGES FOLDERS\n");
    return 2;
  }
  using mailsheaf::FromWide;
  try {
    return mailsheaf::Run(hidden, FromWide(argv[1]), FromWide(argv[2]),
                          std::wcstoll(argv[3], nullptr, 10), std::wcstoll(argv[4], nullptr, 10));
  } catch (...) {
    std::fprintf(stderr, "failed\n");
    return 2;
  }
}
