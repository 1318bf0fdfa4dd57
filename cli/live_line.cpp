#include "cli/live_line.h"

#include <algorithm>

#include "cli/packer.h"
#include "cli/progress_text.h"

namespace mailsheaf {

LiveLine::LiveLine(Console& console) : console_(console), started_(Clock::now()) {}

void LiveLine::Draw(int percent, uint64_t bytes, const std::u16string& what, bool force) {
  const Clock::time_point now = Clock::now();
  if (!force && drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0;
  const size_t width = static_cast<size_t>(std::max(20, console_.Width() - 1));
  std::u16string line(1, u'\r');  // not u"\r" + ...: gcc 12 at -O3 warns of an overlap there
  line += ProgressLine(percent, bytes, rate, what, width);
  console_.Out(line);
  drawn_ = true;
}

void LiveLine::End() {
  if (drawn_) console_.Out(u"\n");
  drawn_ = false;
}

int UsageError(Console& console, const std::u16string& reason) {
  console.Err(std::u16string(kProgram) + u": " + reason +
              u" (try \"mailsheaf-pack --help\")\n");
  return kExitUsage;
}

}  // namespace mailsheaf
