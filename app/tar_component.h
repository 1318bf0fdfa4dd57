#pragma once
// What the window asks of the archive writer it drives for one run. The writer raises its
// progress events synchronously, on the window's thread, inside WriteCompressedArchive; the
// window's handlers may yield to the message queue from there and may even end the process.

#include <cstdint>
#include <memory>
#include <string>

namespace mailsheaf {

// The window's handlers for the writer's events.
class TarEvents {
 public:
  virtual ~TarEvents() = default;
  // Each time the whole-number percentage of bytes done changes. `abort` is the writer's to
  // offer; the window never sets it.
  virtual void PercentDone(std::int32_t percent, bool& abort) = 0;
  // Before each message is stored; `value` is the full path of that file.
  virtual void ProgressInfo(const std::u16string& kind, const std::u16string& value) = 0;
};

class TarComponent {
 public:
  virtual ~TarComponent() = default;
  virtual void SetArchiveFormat(const std::u16string& format) = 0;
  // 1 when the folder tree has been taken in as the archive's root; anything else is a failure.
  virtual std::int32_t AddRootFolder(const std::u16string& folder) = 0;
  // 1 when the gzip-compressed tar has been written to the path; anything else is a failure.
  virtual std::int32_t WriteCompressedArchive(const std::u16string& destination) = 0;
  // Throws away an archive still being written (its temporary file), leaving whatever was at
  // the destination before as it was. Called from inside an event handler just before the
  // process ends; harmless at any other time.
  virtual void DiscardUnfinished() = 0;
};

// Makes the writer for one run, its events going to `events`. Nothing when it cannot be made.
class TarComponentFactory {
 public:
  virtual ~TarComponentFactory() = default;
  virtual std::unique_ptr<TarComponent> CreateTarComponent(TarEvents& events) = 0;
};

}  // namespace mailsheaf
