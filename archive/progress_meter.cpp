#include "archive/progress_meter.h"

#include <algorithm>
#include <utility>

#include "archive/sizing_walk.h"
#include "archive/tar_archive.h"

namespace mailsheaf {

ProgressMeter::ProgressMeter(ArchiveEvents& events, const Clock& clock,
                             const SizingWalker& sizer, std::function<bool()> keep_going,
                             std::function<bool()> sizing_allows)
    : events_(events),
      clock_(clock),
      sizer_(sizer),
      keep_going_(std::move(keep_going)),
      sizing_allows_(std::move(sizing_allows)) {}

std::chrono::steady_clock::time_point ProgressMeter::Now() const {
  return clock_ ? clock_() : std::chrono::steady_clock::now();
}

int32_t ProgressMeter::CurrentPercent() {
  if (!total_loaded_ && sizer_.Known()) {
    progress_.bytes_total = sizer_.Total();
    total_loaded_ = true;
  }
  const uint64_t total = progress_.bytes_total;
  if (total == 0) return std::max(last_percent_, 0);
  const auto percent =
      static_cast<int32_t>(std::min<uint64_t>(99, progress_.bytes_done * 100 / total));
  return std::max(percent, last_percent_);
}

bool ProgressMeter::Progress() {
  const int32_t percent = CurrentPercent();
  if (!sizing_allows_()) return false;
  if (percent == last_percent_) return keep_going_();
  return RaisePercent(percent);
}

bool ProgressMeter::Heartbeat() {
  const auto now = Now();
  if (now - last_info_ >= kEventInterval && !RaiseInfo()) return false;
  if (now - last_percent_time_ >= kEventInterval && !RaisePercent(CurrentPercent())) {
    return false;
  }
  return true;
}

bool ProgressMeter::RaisePercent(int32_t percent) {
  last_percent_ = percent;
  last_percent_time_ = Now();
  events_.PercentDone(percent, progress_);
  return keep_going_();
}

bool ProgressMeter::RaiseInfo() {
  last_info_ = Now();
  events_.ProgressInfo(kProgressKindMessage, progress_.current_file, progress_);
  return keep_going_();
}

}  // namespace mailsheaf
