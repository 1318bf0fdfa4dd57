#include "app/win32/win32_host.h"

namespace mailsheaf {

void Win32Host::InitCommonControls() { ::InitCommonControls(); }

void Win32Host::YieldToQueue() { PumpPendingMessages(translator_); }

void Win32Host::EndNow() {
  // Not ExitProcess alone: it still notifies every loaded library. Nothing may run after this.
  TerminateProcess(GetCurrentProcess(), 0);
  ExitProcess(0);
}

}  // namespace mailsheaf
