// Mailsheaf.exe: creates frmStep1 and runs its message loop. The program ends only through
// the host's EndNow (Exit answered Yes, the window closed, a stop confirmed).

#include "app/win32/windows_api.h"

#include <objbase.h>

#include "app/archive_tar_component.h"
#include "app/frm_step1.h"
#include "app/win32/run_window.h"
#include "app/win32/win32_clock.h"
#include "app/win32/win32_host.h"
#include "app/win32/win32_shell.h"
#include "app/win32/win32_ui.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  using namespace mailsheaf;
  try {
    // The folder browser needs COM on this thread.
    OleInitialize(nullptr);

    Win32Ui ui;
    Win32Shell shell;
    Win32Host host;
    Win32Clock clock;
    ArchiveTarComponentFactory tars;
    FrmStep1 form(ui, shell, host, clock, tars, PlatformSystem());
    return RunWindow(form, ui, host, instance, showCommand);
  } catch (...) {
    return 1;
  }
}
