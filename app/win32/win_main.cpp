// Mailsheaf.exe: creates frmStep1 and runs its message loop. The program ends only through
// the host's EndNow (Exit answered Yes, the window closed, a stop confirmed).

#include "app/win32/windows_api.h"

#include <objbase.h>

#include "app/account_upload.h"
#include "app/archive_tar_component.h"
#include "app/frm_step1.h"
#include "app/win32/run_window.h"
#include "app/win32/win32_clock.h"
#include "app/win32/win32_host.h"
#include "app/win32/win32_shell.h"
#include "app/win32/registry_settings.h"
#include "app/win32/win32_ui.h"
#include "base/text.h"
#include "base/win32/wide.h"

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
    RegistrySettings settings;
    RealAccountRoute account(settings, [](const char* name, std::string& value) {
      const std::wstring wide(name, name + std::char_traits<char>::length(name));
      wchar_t text[4096];
      const DWORD length = GetEnvironmentVariableW(wide.c_str(), text, 4096);
      if (length == 0 || length >= 4096) return false;
      value = Utf16ToUtf8(FromWide(text, length));
      return true;
    });
    form.SetAccountRoute(&account);
    return RunWindow(form, ui, host, instance, showCommand);
  } catch (...) {
    return 1;
  }
}
