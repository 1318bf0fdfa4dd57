#pragma once
// The host of the real program: the thread's message queue and the process.

#include "app/ports.h"
#include "app/win32/message_pump.h"

namespace mailsheaf {

class Win32Host final : public Host {
 public:
  // The window's keyboard handling sees messages processed during a yield, as in the main loop.
  void SetPreTranslator(MessagePreTranslator* translator) { translator_ = translator; }

  void InitCommonControls() override;
  void YieldToQueue() override;
  void EndNow() override;

 private:
  MessagePreTranslator* translator_ = nullptr;
};

}  // namespace mailsheaf
