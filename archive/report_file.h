#pragma once
// The report beside the archive, named after it, only when there is something to tell. The
// archive and its report are a pair: an earlier report of ours is removed before the new
// archive goes in place (so that no run, however it ends, leaves an archive beside a report that
// is not its own), and the new report written after it. A file we did not write is never
// replaced. A report that could not be written, or an old one not removed, is a failure the
// caller tells.

#include <string>

#include "mail/file_system.h"
#include "mail/run_report.h"

namespace mailsheaf {

struct ReportFileOutcome {
  std::u16string written;  // the report's path when it was written; else empty
  std::u16string error;    // why it was not written, or an earlier one of ours not removed
};

// Removes a report of ours at `path`; false with the reason when one is there and cannot go.
bool RemoveOurReport(FileSystem& fs, const std::u16string& path, std::u16string& error);

// `path` is where the report goes, `archive` the archive it tells about; nothing when the
// report is empty.
ReportFileOutcome WriteReportFile(FileSystem& fs, const RunReport& report,
                                  const std::u16string& path, const std::u16string& archive);

}  // namespace mailsheaf
