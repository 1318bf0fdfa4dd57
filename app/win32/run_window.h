#pragma once
// The life of the program around frmStep1: initialise it, build its real window, load it,
// show it, and run the message loop until the process ends.

#include <functional>

#include "app/frm_step1.h"
#include "app/win32/win32_host.h"
#include "app/win32/win32_ui.h"
#include "app/win32/windows_api.h"

namespace mailsheaf {

// `whenShown` runs once the window is on screen, before the message loop. The result is the
// message loop's exit code, or 1 when the window could not be made.
int RunWindow(FrmStep1& form, Win32Ui& ui, Win32Host& host, HINSTANCE resources,
              int showCommand, const std::function<void()>& whenShown = {});

}  // namespace mailsheaf
