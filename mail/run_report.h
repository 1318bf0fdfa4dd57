#pragma once
// What a write stored, adjusted or left out, in plain words for the user. Only what happened:
// a write with nothing to tell has an empty report and no report file.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mailsheaf {

struct RunReport {
  struct Renamed {
    std::u16string from;  // a folder's path below the chosen folder ("/"-separated), or a
    std::u16string to;    // message's full path and the name it is stored under
    std::u16string why;
  };
  struct Noted {
    std::u16string path;  // the file's full path
    std::u16string why;
  };
  struct Merged {
    std::u16string source;  // the folder's path below the chosen folder
    std::u16string stored;  // the path it is stored under
  };
  struct Shortfall {
    std::u16string folder;  // below the chosen folder; empty for the chosen folder itself
    int64_t counted = 0;    // messages the count found there
    int64_t found = 0;      // messages the write found there, stored or left out
    bool gone = false;      // the write did not find the folder at all
  };

  int64_t stored = 0;                     // messages in the archive
  int64_t counted = -1;                   // messages counted before the write; -1 when not
  std::vector<Shortfall> shortfall;       // folders with fewer messages than were counted
  std::vector<Noted> refused;             // messages Zimbra will still refuse
  std::vector<Renamed> renamed_folders;
  std::vector<Renamed> renamed_messages;  // names that are not UTF-8
  std::vector<Noted> reencoded;           // why: what else the mend did, when anything
  std::vector<std::u16string> signature_broken;  // re-encoded inside a signed part
  int64_t dkim_broken = 0;                // re-encoded in the body a DKIM signature covers
  std::vector<Noted> left_out;            // files that are or look like mail, not stored
  std::map<std::u16string, int64_t> other_files;  // other files left out, by kind
  int64_t unread = 0;                     // messages stored as unread
  std::vector<std::vector<Merged>> merging;        // folders Zimbra makes one
  std::map<std::u16string, int64_t> emptied;       // "Trash", "Junk": messages stored there

  // Nothing to tell. Other files alone (Thumbs.db, notes) are no reason for a report.
  bool Empty() const {
    return shortfall.empty() && refused.empty() && renamed_folders.empty() &&
           renamed_messages.empty() && reencoded.empty() && left_out.empty() && unread == 0 &&
           merging.empty() && emptied.empty();
  }
};

// The report as text, `eol` ending every line. Its first line begins with kReportSignature.
std::u16string ReportText(const RunReport& report, const std::u16string& archive,
                          const std::u16string& eol);

// What a report file of ours begins with: a file that does not is never replaced. Reports of
// earlier versions began with kEarlierReportSignature.
inline constexpr char kReportSignature[] = "Mailsheaf wrote the archive ";
inline constexpr char kEarlierReportSignature[] = "Mailsheaf adjusted the archive ";

// One or two lines for a message box: what was adjusted, counted.
std::u16string ReportSummary(const RunReport& report);

// The report's file name beside the archive: "mail.tgz" gives "mail - report.txt".
std::u16string ReportFileName(const std::u16string& archive_name);

}  // namespace mailsheaf
