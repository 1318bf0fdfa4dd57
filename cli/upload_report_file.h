#pragma once
// The upload's report as a file, for the packer's --report and the window alike: the upload's
// own report, then what was adjusted or left out on the way, written whole or not at all and
// never over a file that is not a report of ours.

#include <string>

#include "mail/file_system.h"
#include "mail/run_report.h"
#include "upload/upload_report.h"

namespace mailsheaf {

// The mends' part of the report, under the upload's own first line; empty when nothing was
// adjusted or left out.
std::u16string MendsText(const RunReport& report, const std::u16string& eol);

// The whole report: the upload's, then the mends'.
std::u16string FullUploadReportText(const UploadReport& report, const RunReport& mends,
                                    const std::u16string& eol);

// False with the reason when it was not written.
bool WriteReport(FileSystem& fs, const std::u16string& where, const std::u16string& text,
                 std::u16string& error);

}  // namespace mailsheaf
