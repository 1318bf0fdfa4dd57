#include "archive/run_report.h"

#include "base/text.h"

namespace mailsheaf {
namespace {

std::u16string Count(size_t n, const char16_t* one, const char16_t* many) {
  return DecimalText(static_cast<long long>(n)) + u" " + (n == 1 ? one : many);
}

}  // namespace

std::u16string ReportText(const RunReport& report, const std::u16string& archive,
                          const std::u16string& eol) {
  if (report.Empty()) return {};
  std::u16string text = u"Mailsheaf adjusted the archive " + archive +
                        u" so that Zimbra takes in every message." + eol;
  auto section = [&](const std::u16string& heading) { text += eol + heading + eol; };
  if (!report.renamed_folders.empty()) {
    section(u"Folders stored under another name (Zimbra refuses the original name, or keeps "
            u"the name for something other than mail):");
    for (const RunReport::Renamed& r : report.renamed_folders) {
      text += u"  " + r.from + u" -> " + r.to + eol;
    }
  }
  if (!report.reencoded.empty()) {
    section(u"Messages re-encoded because a line was longer than Zimbra accepts (10,240 bytes); "
            u"what they say is unchanged:");
    for (const std::u16string& path : report.reencoded) text += u"  " + path + eol;
  }
  if (!report.refused.empty()) {
    section(u"Messages stored as they are that Zimbra will refuse:");
    for (const RunReport::Noted& n : report.refused) text += u"  " + n.path + u": " + n.why + eol;
  }
  if (!report.left_out.empty()) {
    section(u"Files left out:");
    for (const RunReport::Noted& n : report.left_out) {
      text += u"  " + n.path + u": " + n.why + eol;
    }
  }
  if (report.unread > 0) {
    section(Count(static_cast<size_t>(report.unread), u"message was", u"messages were") +
            u" stored as unread, as their headers say.");
  }
  if (!report.merging.empty()) {
    section(u"Folders whose names differ only in capitals or trailing spaces; Zimbra makes "
            u"each group one folder (no message is lost):");
    for (const std::vector<std::u16string>& group : report.merging) {
      std::u16string line;
      for (const std::u16string& path : group) {
        line += (line.empty() ? u"  \"" : u", \"") + path + u"\"";
      }
      text += line + eol;
    }
  }
  return text;
}

std::u16string ReportSummary(const RunReport& report) {
  std::u16string summary;
  auto add = [&](const std::u16string& part) {
    summary += (summary.empty() ? u"" : u", ") + part;
  };
  if (!report.renamed_folders.empty()) {
    add(Count(report.renamed_folders.size(), u"folder renamed", u"folders renamed"));
  }
  if (!report.reencoded.empty()) {
    add(Count(report.reencoded.size(), u"message re-encoded", u"messages re-encoded"));
  }
  if (!report.refused.empty()) {
    add(Count(report.refused.size(), u"message Zimbra will refuse",
              u"messages Zimbra will refuse"));
  }
  if (!report.left_out.empty()) {
    add(Count(report.left_out.size(), u"file left out", u"files left out"));
  }
  if (report.unread > 0) {
    add(Count(static_cast<size_t>(report.unread), u"message stored as unread",
              u"messages stored as unread"));
  }
  if (!report.merging.empty()) {
    add(Count(report.merging.size(), u"group of folders merges", u"groups of folders merge"));
  }
  return summary.empty() ? summary : summary + u".";
}

std::u16string ReportFileName(const std::u16string& archive_name) {
  const size_t dot = archive_name.rfind(u'.');
  const std::u16string stem =
      dot == std::u16string::npos || dot == 0 ? archive_name : archive_name.substr(0, dot);
  return stem + u" - report.txt";
}

}  // namespace mailsheaf
