#pragma once
// The report beside the archive, named after it, only when there is something to tell. A report
// of ours from an earlier write that no longer holds is removed, and a file we did not write is
// never replaced. The archive is complete either way: a report that cannot be written is said,
// not a failure.

#include <string>

#include "archive/file_system.h"
#include "archive/run_report.h"

namespace mailsheaf {

struct ReportFileOutcome {
  std::u16string written;  // the report's path when it was written; else empty
  std::u16string error;    // why it was not written, or an earlier one of ours not removed
};

// `path` is where the report goes, `archive` the archive it tells about.
ReportFileOutcome WriteReportFile(ArchiveFileSystem& fs, const RunReport& report,
                                  const std::u16string& path, const std::u16string& archive);

}  // namespace mailsheaf
