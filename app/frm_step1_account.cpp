// frmStep1's account route: "Send to Mail Account..." puts the chosen folder straight into a
// mail account over IMAP. It runs as the archive does, on the window's thread: the upload's
// events (and its cancel check, asked while it waits on the network) give the message queue its
// turn, so the window repaints and Stop answers; a stop answered Yes ends the program, and the
// account keeps what it confirmed (the next run adds only what is missing).

#include <algorithm>

#include "app/app_texts.h"
#include "app/frm_step1.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

std::u16string Text(std::u16string_view view) { return std::u16string(view); }

// "1,980": counts as people read them.
std::u16string Grouped(int64_t n) {
  std::u16string digits = DecimalText(n);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, u",");
  return digits;
}

// "2026-12-08 UTC": the day, which is what a certificate's dates are read for.
std::u16string DateText(int64_t seconds) {
  // Days to the civil date (proleptic Gregorian), as message dates are read the other way.
  const int64_t z = (seconds >= 0 ? seconds : seconds - 86399) / 86400 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2);
  const auto two = [](int64_t n) { return (n < 10 ? u"0" : u"") + DecimalText(n); };
  return DecimalText(year) + u"-" + two(month) + u"-" + two(day) + u" UTC";
}

std::u16string AccountOf(const AccountChoice& choice) {
  return choice.user + Text(kAccountAt) + choice.host;
}

// The dialog's check, with the certificate question in between: a certificate no authority
// vouches for is shown, and trusted only when the person says so.
class AskingCheck final : public AccountCheck {
 public:
  AskingCheck(AccountCheck& check, Ui& ui) : check_(check), ui_(ui) {}

  AccountCheckOutcome Check(AccountChoice& choice,
                            const std::function<bool()>& cancelled) override {
    AccountCheckOutcome outcome = check_.Check(choice, cancelled);
    if (outcome.logged_in || !outcome.question || !choice.trusted_sha256.empty()) return outcome;
    const CertificateQuestion& q = *outcome.question;
    const std::u16string text =
        Text(kCertificateQuestionStart) + u"Server: " + choice.host + u"\r\nFor: " + q.subject +
        u"\r\nIssued by: " + q.issuer + u"\r\nValid: " + DateText(q.not_before) + u" to " +
        DateText(q.not_after) + u"\r\nSHA-256 fingerprint:\r\n" + AsciiToUtf16(q.sha256) +
        u"\r\n" + Text(kCertificateQuestionEnd);
    if (ui_.ShowMessage({text, Text(kAccountDialogTitle), MessageButtons::YesNo,
                         MessageIcon::Question}) != MessageAnswer::Yes) {
      return {false, Text(kCertificateNotTrusted), std::nullopt};
    }
    choice.trusted_sha256 = q.sha256;
    return check_.Check(choice, cancelled);
  }

 private:
  AccountCheck& check_;
  Ui& ui_;
};

}  // namespace

void FrmStep1::CmdSendToAccount_Click() {
  if (ended_ || scanning_ || converting_ || route_ == nullptr) return;
  AskingCheck check(route_->Check(), ui_);
  const std::optional<AccountChoice> chosen =
      ui_.ShowAccountDialog(OwnerWindow(), route_->Settings().Load(), check);
  if (!chosen || ended_) return;
  if (chosen->remember) {
    route_->Settings().Save(*chosen);
  } else {
    route_->Settings().Forget();
  }

  converting_ = true;
  SetCaption(ControlId::LblDestination, AccountOf(*chosen));
  SetCaption(ControlId::CmdConvertTGZ, Text(kPleaseWait));
  SetEnabled(ControlId::CmdAddFolder, false);
  SetEnabled(ControlId::CmdConvertTGZ, false);
  SetProgressRange(0, 100);
  SetProgressValue(0);
  PaintNow();
  RunUpload(*chosen);
  converting_ = false;
  if (ended_) return;
  FocusControl(Control(ControlId::CmdConvertTGZ).enabled ? ControlId::CmdSendToAccount
                                                         : ControlId::CmdAddFolder);
}

void FrmStep1::RunUpload(const AccountChoice& choice) {
  std::unique_ptr<AccountUpload> upload = route_->CreateUpload();
  SetVisible(ControlId::CmdStop, true);
  FocusControl(ControlId::CmdStop);
  const AccountRunResult result = upload->Run(state_.SourceFolder, choice, *this);
  if (ended_) return;
  EndRun();
  const UploadReport& r = result.report;
  const int64_t added = r.Total(&UploadReport::Mailbox::added);
  const int64_t there = r.Total(&UploadReport::Mailbox::already_there);
  std::u16string text = Grouped(there) + u" already in the account, " + Grouped(added) +
                        u" added";
  if (r.Refused() > 0) text += u", " + Grouped(r.Refused()) + u" refused by the server";
  if (r.NotAdded() > 0) text += u", " + Grouped(r.NotAdded()) + u" not added (run again to add them)";
  text += u".\r\n" + AccountOf(choice);
  if (!r.failure.empty()) text = Text(kAccountFailed) + u"\r\n" + r.failure + u"\r\n\r\n" + text;
  ShowInformation(text, kAccountDoneCaption);
  if (ended_) return;
  if (!result.report_file.empty()) state_.DestinationFile = result.report_file;
  const bool tell = r.Refused() > 0 || r.NotAdded() > 0 || !result.mends.empty();
  if (tell) {
    std::u16string details = result.mends.empty() ? std::u16string() : result.mends + u"\r\n\r\n";
    details += result.report_file.empty() ? Text(kReportNotWritten) + result.report_error
                                          : Text(kAccountReportWhere) + u"\r\n" + result.report_file;
    ShowInformation(details, kAppTitle);
  }
  if (ended_) return;
  SetEnabled(ControlId::CmdOpen, !result.report_file.empty());
  SetEnabled(ControlId::CmdConvertTGZ, true);
}

void FrmStep1::Progress(const UploadProgress& progress) {
  if (ended_) return;
  const uint64_t total = progress.messages_total;
  SetProgressValue(total == 0 ? 0.0f
                              : static_cast<float>(std::min<uint64_t>(
                                    100, progress.messages_done * 100 / total)));
  SetCaption(ControlId::CmdConvertTGZ, Text(kConversionInProgress));
  SetCaption(ControlId::LblTarFile,
             progress.status.empty()
                 ? Grouped(static_cast<int64_t>(progress.messages_done)) + u" of " +
                       Grouped(static_cast<int64_t>(total)) + u": " + progress.current_file
                 : progress.status);
  AskToStop();
  if (!ended_) host_.YieldToQueue();
}

bool FrmStep1::StopRequested() {
  if (ended_) return true;
  host_.YieldToQueue();
  AskToStop();
  return ended_;
}

}  // namespace mailsheaf
