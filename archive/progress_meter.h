#pragma once
// What one write tells its events and when: the percentage of the tar written, raised as it
// changes, and during a long message both events again at least every kEventInterval.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "archive/archive_events.h"

namespace mailsheaf {

class SizingWalker;

class ProgressMeter {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `clock` may be empty (the steady clock) and must outlive the meter. False from either check
  // ends the write: `keep_going` is asked after every event, since a handler may have stopped
  // it; `sizing_allows` before a new percentage, since the total comes with the sizing walk's
  // verdict on the archive.
  ProgressMeter(ArchiveEvents& events, const Clock& clock, const SizingWalker& sizer,
                std::function<bool()> keep_going, std::function<bool()> sizing_allows);

  void AddBytes(uint64_t bytes) { progress_.bytes_done += bytes; }
  void SetCurrentFile(const std::u16string& path) { progress_.current_file = path; }
  void SetMessagesStored(int64_t stored) { progress_.messages_stored = stored; }

  // Raises PercentDone when the whole-number percentage changes; false when told to stop.
  bool Progress();
  // Raises each event again whose interval has passed; false when told to stop.
  bool Heartbeat();
  bool RaisePercent(int32_t percent);
  bool RaiseInfo();

 private:
  // Until the end only 100 is held back: the archive is not in place before then.
  int32_t CurrentPercent();
  std::chrono::steady_clock::time_point Now() const;

  ArchiveEvents& events_;
  const Clock& clock_;
  const SizingWalker& sizer_;
  const std::function<bool()> keep_going_;
  const std::function<bool()> sizing_allows_;
  ArchiveProgress progress_;
  bool total_loaded_ = false;
  int32_t last_percent_ = -1;
  std::chrono::steady_clock::time_point last_percent_time_;
  std::chrono::steady_clock::time_point last_info_;
};

}  // namespace mailsheaf
