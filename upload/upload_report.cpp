#include "upload/upload_report.h"

#include "base/report_text.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

int64_t Size(size_t n) { return static_cast<int64_t>(n); }

}  // namespace

int64_t UploadReport::Total(int64_t Mailbox::* field) const {
  int64_t total = 0;
  for (const Mailbox& m : mailboxes) total += m.*field;
  return total;
}

int64_t UploadReport::Refused() const {
  int64_t total = 0;
  for (const Mailbox& m : mailboxes) total += Size(m.refused.size());
  return total;
}

int64_t UploadReport::NotAdded() const {
  int64_t total = 0;
  for (const Mailbox& m : mailboxes) total += Size(m.not_added.size());
  return total;
}

std::u16string UploadReportText(const UploadReport& report, const std::u16string& eol) {
  const int64_t queued = report.Total(&UploadReport::Mailbox::queued);
  std::u16string text = AsciiToUtf16(kUploadReportSignature) +
                        CountText(queued, u"message", u"messages") + u" into " + report.account +
                        u": " + DecimalText(report.Total(&UploadReport::Mailbox::added)) +
                        u" added, " +
                        DecimalText(report.Total(&UploadReport::Mailbox::already_there)) +
                        u" already there, " + DecimalText(report.Refused()) + u" refused, " +
                        DecimalText(report.NotAdded()) + u" not added.";
  if (report.stopped) text += u" The run was stopped before the end; run it again to add the rest.";
  text += eol;
  if (!report.failure.empty()) text += u"The run ended early: " + report.failure + eol;
  if (report.reconnects > 0) {
    text += u"The connection dropped and was made again " +
            CountText(report.reconnects, u"time.", u"times.") + eol;
  }
  for (const std::u16string& notice : report.notices) text += notice + eol;
  for (const UploadReport::Mailbox& m : report.mailboxes) {
    text += eol + Shown(m.name);
    if (!m.sources.empty()) {
      text += u" (from ";
      for (size_t i = 0; i < m.sources.size(); ++i) {
        text += (i ? u", " : u"") + (m.sources[i].empty() ? u"the chosen folder" : Shown(m.sources[i]));
      }
      text += u")";
    }
    text += u": " + DecimalText(m.queued) + u" queued, " + DecimalText(m.already_there) +
            u" already there, " + DecimalText(m.added) + u" added, " +
            DecimalText(Size(m.refused.size())) + u" refused";
    if (!m.not_added.empty()) text += u", " + DecimalText(Size(m.not_added.size())) + u" not added";
    text += m.server_count >= 0
                ? u"; the server holds " + CountText(m.server_count, u"message", u"messages")
                : u"; the server's count is not known";
    if (m.made) text += u"; made by this run";
    if (!m.unusable.empty()) text += u"; the server would not let it be used: " + m.unusable;
    text += eol;
    for (const std::u16string& note : m.notes) text += u"  " + note + eol;
    for (const UploadReport::Noted& n : m.refused) {
      text += u"  refused: " + Shown(n.path) + u": " + Shown(n.why) + eol;
    }
    for (const UploadReport::Noted& n : m.not_added) {
      text += u"  not added: " + Shown(n.path) + u": " + n.why + eol;
    }
    for (const std::u16string& path : m.nul_replaced) {
      text += u"  added with its NUL bytes as byte 0x80, since IMAP cannot carry a NUL: " +
              Shown(path) + eol;
    }
  }
  return text;
}

}  // namespace mailsheaf
