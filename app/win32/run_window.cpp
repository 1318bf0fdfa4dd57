#include "app/win32/run_window.h"

#include "app/win32/main_window.h"
#include "app/win32/message_pump.h"

namespace mailsheaf {

int RunWindow(FrmStep1& form, Win32Ui& ui, Win32Host& host, HINSTANCE resources,
              int showCommand, const std::function<void()>& whenShown) {
  form.Form_Initialize();

  MainWindowOptions options;
  options.resources = resources;
  std::unique_ptr<MainWindow> window = MainWindow::Create(form, options);
  if (!window) return 1;
  ui.SetOwner(window->OwnerWindow());
  host.SetPreTranslator(window.get());

  form.Form_Load();
  window->Show(showCommand);
  if (whenShown) whenShown();
  return RunMessageLoop(window.get());
}

}  // namespace mailsheaf
