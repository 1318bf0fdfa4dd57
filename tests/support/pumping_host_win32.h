#pragma once
// A host for the real window in tests and benchmarks: the real yield to the message queue, and
// an end of the process that is only counted, so the program goes on to look at what is left.

#include <functional>

#include "app/ports.h"
#include "app/win32/message_pump.h"
#include "app/win32/windows_api.h"

namespace mailsheaf::testing {

class PumpingHost final : public Host {
 public:
  void InitCommonControls() override { ::InitCommonControls(); }
  void YieldToQueue() override {
    ++yields;
    PumpPendingMessages(translator);
    if (onYield) onYield();
  }
  void EndNow() override { ++ends; }

  MessagePreTranslator* translator = nullptr;
  std::function<void()> onYield;  // after the real yield: what a person might do meanwhile
  long long yields = 0;
  int ends = 0;
};

}  // namespace mailsheaf::testing
