#pragma once
// The thread's message loop, and the one step of it that a yield takes.

#include "app/win32/windows_api.h"

namespace mailsheaf {

// Sees each message before it is translated and dispatched; true when it has dealt with it.
class MessagePreTranslator {
 public:
  virtual ~MessagePreTranslator() = default;
  virtual bool PreTranslate(MSG& msg) = 0;
};

// Processes every message pending for this thread, then returns. A WM_QUIT met on the way is
// posted again for the outer loop and ends the step; the result is false then.
bool PumpPendingMessages(MessagePreTranslator* translator);

// Runs until WM_QUIT; returns its exit code.
int RunMessageLoop(MessagePreTranslator* translator);

}  // namespace mailsheaf
