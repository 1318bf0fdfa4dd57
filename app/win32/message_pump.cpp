#include "app/win32/message_pump.h"

namespace mailsheaf {
namespace {

// A message that keeps posting itself must not hold a yield forever.
constexpr int kMostMessagesPerStep = 10000;

void Deliver(MessagePreTranslator* translator, MSG& msg) {
  if (translator && translator->PreTranslate(msg)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

}  // namespace

bool PumpPendingMessages(MessagePreTranslator* translator) {
  // Asking first is cheaper than a peek that finds nothing, and the scan yields at every entry.
  if (HIWORD(GetQueueStatus(QS_ALLINPUT)) == 0) return true;
  MSG msg;
  for (int handled = 0; handled < kMostMessagesPerStep; ++handled) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return true;
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    Deliver(translator, msg);
  }
  return true;
}

int RunMessageLoop(MessagePreTranslator* translator) {
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return 1;
    Deliver(translator, msg);
  }
}

}  // namespace mailsheaf
