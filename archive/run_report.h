#pragma once
// What a write had to adjust or leave out so that every message arrives, in plain words for
// the user. Only what happened: an empty report says nothing at all.

#include <cstdint>
#include <string>
#include <vector>

namespace mailsheaf {

struct RunReport {
  struct Renamed {
    std::u16string from;  // the folder's path below the chosen folder, "/"-separated
    std::u16string to;    // the path it is stored under
  };
  struct Noted {
    std::u16string path;  // the file's full path
    std::u16string why;
  };

  std::vector<Renamed> renamed_folders;
  std::vector<std::u16string> reencoded;  // messages whose long lines were re-encoded
  std::vector<Noted> refused;             // messages Zimbra will still refuse
  std::vector<Noted> left_out;            // files named like messages that are not messages
  int64_t unread = 0;                     // messages stored as unread
  std::vector<std::vector<std::u16string>> merging;  // stored folder paths that become one

  bool Empty() const {
    return renamed_folders.empty() && reencoded.empty() && refused.empty() && left_out.empty() &&
           unread == 0 && merging.empty();
  }
};

// The report as text, `eol` ending every line.
std::u16string ReportText(const RunReport& report, const std::u16string& archive,
                          const std::u16string& eol);

// One or two lines for a message box: what was adjusted, counted.
std::u16string ReportSummary(const RunReport& report);

// The report's file name beside the archive: "mail.tgz" gives "mail - report.txt".
std::u16string ReportFileName(const std::u16string& archive_name);

}  // namespace mailsheaf
