#pragma once
// What the window asks of the archive writer it drives for one run. The writer raises its
// events (archive/archive_events.h) synchronously, on the window's thread, inside
// WriteCompressedArchive; the window's handlers may yield to the message queue from there and
// may even end the process.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "archive/archive_events.h"
#include "mail/run_report.h"

namespace mailsheaf {

class TarComponent {
 public:
  virtual ~TarComponent() = default;
  virtual void SetArchiveFormat(const std::u16string& format) = 0;
  // 1 when the folder tree has been taken in as the archive's root; anything else is a failure.
  virtual std::int32_t AddRootFolder(const std::u16string& folder) = 0;
  // How many messages the scan counted in each folder below the root ("/"-separated, ending in
  // "/"; "" for the root), so that the report can say where any went that are not stored.
  virtual void SetCountedMessages(std::map<std::u16string, std::int64_t> counted) = 0;
  // 1 when the gzip-compressed tar has been written to the path; anything else is a failure.
  virtual std::int32_t WriteCompressedArchive(const std::u16string& destination) = 0;
  // Why the last call failed, in words for the user; empty when it did not.
  virtual std::u16string LastErrorText() const = 0;
  // After a write: the messages stored, what had to be adjusted or left out, and the report
  // file written beside the archive (empty when there was nothing to tell, or when it could
  // not be written: then ReportFileError says why).
  virtual std::int64_t MessagesStored() const = 0;
  virtual RunReport Report() const = 0;
  virtual std::u16string ReportFile() const = 0;
  virtual std::u16string ReportFileError() const = 0;
  // Stops a write in progress and throws away its temporary file, leaving whatever was at the
  // destination before as it was. Called from inside an event handler just before the process
  // ends; harmless at any other time.
  virtual void Stop() = 0;
};

// Makes the writer for one run, its events going to `events`. Nothing when it cannot be made.
class TarComponentFactory {
 public:
  virtual ~TarComponentFactory() = default;
  virtual std::unique_ptr<TarComponent> CreateTarComponent(ArchiveEvents& events) = 0;
};

}  // namespace mailsheaf
