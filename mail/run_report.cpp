#include "mail/run_report.h"

#include "base/report_text.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

int64_t Size(size_t n) { return static_cast<int64_t>(n); }

// The first line: what the archive holds, and what the sections below have to say about it.
std::u16string Headline(const RunReport& report, const std::u16string& archive) {
  std::u16string line = AsciiToUtf16(kReportSignature) + Shown(archive) + u" with " +
                        CountText(report.stored, u"message", u"messages");
  int64_t missing = 0;
  for (const RunReport::Shortfall& s : report.shortfall) missing += s.counted - s.found;
  if (missing > 0) {
    line += u"; " + CountText(missing, u"message", u"messages") + u" counted when the folder was " +
            u"chosen " + (missing == 1 ? u"was" : u"were") + u" no longer there";
  }
  if (!report.refused.empty()) {
    line += u"; Zimbra will refuse " + CountText(Size(report.refused.size()), u"message", u"messages") +
            u" of them";
  } else if (!report.renamed_folders.empty() || !report.renamed_messages.empty() ||
             !report.reencoded.empty()) {
    line += u", adjusted where needed so that Zimbra takes in every one";
  }
  return line + u".";
}

}  // namespace

std::u16string ReportText(const RunReport& report, const std::u16string& archive,
                          const std::u16string& eol) {
  if (report.Empty()) return {};
  std::u16string text = Headline(report, archive) + eol;
  auto section = [&](const std::u16string& heading) { text += eol + heading + eol; };
  auto line = [&](const std::u16string& content) { text += u"  " + content + eol; };
  if (!report.shortfall.empty()) {
    section(u"Messages counted when the folder was chosen but not found when the archive was "
            u"written (moved or deleted since):");
    for (const RunReport::Shortfall& s : report.shortfall) {
      line((s.folder.empty() ? u"the chosen folder" : Shown(s.folder)) + u": " +
           DecimalText(s.counted) + u" counted, " +
           (s.gone ? u"the folder is gone" : DecimalText(s.found) + u" found"));
    }
  }
  if (!report.refused.empty()) {
    section(u"Messages stored as they are that Zimbra will refuse (its import skips them):");
    for (const RunReport::Noted& n : report.refused) line(Shown(n.path) + u": " + n.why);
  }
  if (!report.renamed_folders.empty()) {
    section(u"Folders stored under another name:");
    for (const RunReport::Renamed& r : report.renamed_folders) {
      line(Shown(r.from) + u" -> " + Shown(r.to) + u": " + r.why);
    }
  }
  if (!report.renamed_messages.empty()) {
    section(u"Messages stored under another name:");
    for (const RunReport::Renamed& r : report.renamed_messages) {
      line(Shown(r.from) + u" -> " + Shown(r.to) + u": " + r.why);
    }
  }
  if (!report.reencoded.empty()) {
    section(u"Messages re-encoded because a line was longer than Zimbra accepts (10,240 bytes); "
            u"what they say is unchanged:");
    for (const RunReport::Noted& n : report.reencoded) {
      line(Shown(n.path) + (n.why.empty() ? u"" : u": " + n.why));
    }
  }
  if (!report.signature_broken.empty()) {
    section(u"Messages re-encoded inside a digitally signed part (S/MIME or PGP): they arrive "
            u"and say the same, but their digital signature will no longer verify:");
    for (const std::u16string& path : report.signature_broken) line(Shown(path));
  }
  if (report.dkim_broken > 0) {
    section(CountText(report.dkim_broken, u"re-encoded message carries", u"re-encoded messages carry") +
            u" a DKIM signature over a body that changed; it no longer verifies, which matters "
            u"only to a program that checks it again.");
  }
  if (!report.left_out.empty()) {
    section(u"Files left out that are, or look like, mail but are not .eml messages:");
    for (const RunReport::Noted& n : report.left_out) line(Shown(n.path) + u": " + n.why);
  }
  if (!report.other_files.empty()) {
    std::u16string kinds;
    for (const auto& [kind, n] : report.other_files) {
      kinds += (kinds.empty() ? u"" : u", ") + DecimalText(n) + u" " + kind;
    }
    section(u"Other files left out, by kind (Zimbra's import takes only .eml messages):");
    line(kinds);
  }
  if (report.unread > 0) {
    section(CountText(report.unread, u"message was", u"messages were") +
            u" stored as unread, as their headers say.");
  }
  if (!report.merging.empty()) {
    section(u"Folders that Zimbra makes one, since it ignores capitals and trailing spaces in "
            u"folder names (no message is lost):");
    for (const std::vector<RunReport::Merged>& group : report.merging) {
      std::u16string members;
      for (const RunReport::Merged& m : group) {
        members += (members.empty() ? u"" : u", ") + Shown(m.source);
        if (m.stored != m.source) members += u" (stored as " + Shown(m.stored) + u")";
      }
      line(members);
    }
  }
  for (const auto& [folder, n] : report.emptied) {
    section(CountText(n, u"message goes", u"messages go") + u" into Zimbra's own " + folder +
            u" folder. Zimbra empties it on its own schedule (by default a message is deleted "
            u"30 days after it arrives there): move any you want to keep.");
  }
  return text;
}

std::u16string ReportSummary(const RunReport& report) {
  std::u16string summary;
  auto add = [&](size_t n, const char16_t* one, const char16_t* many) {
    if (n > 0) summary += (summary.empty() ? u"" : u", ") + CountText(Size(n), one, many);
  };
  int64_t missing = 0;
  for (const RunReport::Shortfall& s : report.shortfall) missing += s.counted - s.found;
  add(static_cast<size_t>(missing), u"counted message no longer there",
      u"counted messages no longer there");
  add(report.refused.size(), u"message Zimbra will refuse", u"messages Zimbra will refuse");
  add(report.renamed_folders.size() + report.renamed_messages.size(), u"name changed",
      u"names changed");
  add(report.reencoded.size(), u"message re-encoded", u"messages re-encoded");
  add(report.signature_broken.size(), u"signature broken", u"signatures broken");
  add(report.left_out.size(), u"file left out", u"files left out");
  add(static_cast<size_t>(report.unread), u"message stored as unread",
      u"messages stored as unread");
  add(report.merging.size(), u"group of folders merges", u"groups of folders merge");
  int64_t emptied = 0;
  for (const auto& entry : report.emptied) emptied += entry.second;
  add(static_cast<size_t>(emptied), u"message in Trash or Junk", u"messages in Trash or Junk");
  return summary.empty() ? summary : summary + u".";
}

std::u16string ReportFileName(const std::u16string& archive_name) {
  const size_t dot = archive_name.rfind(u'.');
  const std::u16string stem =
      dot == std::u16string::npos || dot == 0 ? archive_name : archive_name.substr(0, dot);
  return stem + u" - report.txt";
}

}  // namespace mailsheaf
