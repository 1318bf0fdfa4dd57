#pragma once
// The packer's live progress line on a terminal, for both routes: redrawn in place at most every
// 100 ms, with the rate since the start, and ended before anything else is printed.

#include <chrono>
#include <cstdint>
#include <string>

#include "cli/console.h"

namespace mailsheaf {

class LiveLine {
 public:
  explicit LiveLine(Console& console);
  // `force` draws even within 100 ms of the last: the final figure must show.
  void Draw(int percent, uint64_t bytes, const std::u16string& what, bool force);
  void End();

 private:
  using Clock = std::chrono::steady_clock;
  Console& console_;
  Clock::time_point started_;
  Clock::time_point last_draw_;
  bool drawn_ = false;
};

// "mailsheaf-pack: REASON (try ...)" on the error stream; the usage exit code.
int UsageError(Console& console, const std::u16string& reason);

inline constexpr char16_t kProgram[] = u"mailsheaf-pack";

}  // namespace mailsheaf
