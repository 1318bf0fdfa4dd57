#include "app/account_upload.h"

#include <ctime>

#include "base/text.h"
#include "cli/upload_report_file.h"
#include "mail/file_system.h"
#include "upload/journal_file.h"
#include "upload/login_check.h"
#include "upload/tree_upload_source.h"
#include "upload/uploader.h"

namespace mailsheaf {
namespace {

std::u16string Trimmed(std::u16string text) {
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.pop_back();
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.erase(0, 1);
  return text;
}

ImapSecurity SecurityOf(AccountSecurity security) {
  switch (security) {
    case AccountSecurity::kTls: return ImapSecurity::kTls;
    case AccountSecurity::kStartTls: return ImapSecurity::kStartTls;
    case AccountSecurity::kPlain: return ImapSecurity::kPlain;
  }
  return ImapSecurity::kTls;
}

}  // namespace

ImapServer ServerFor(const AccountChoice& choice) {
  ImapServer server;
  std::u16string host = Trimmed(choice.host);
  server.security = SecurityOf(choice.security);
  server.port = DefaultPort(choice.security);
  const size_t colon = host.rfind(u':');
  if (colon != std::u16string::npos && host.find(u':') == colon && colon + 1 < host.size()) {
    uint32_t port = 0;
    bool digits = true;
    for (size_t i = colon + 1; i < host.size(); ++i) {
      digits &= host[i] >= u'0' && host[i] <= u'9';
      if (digits) port = port * 10 + (host[i] - u'0');
      if (port > 65535) digits = false;
    }
    if (digits && port > 0) {
      server.port = static_cast<uint16_t>(port);
      host.resize(colon);
    }
  }
  server.host = Utf16ToUtf8(host);
  server.tls.trust_certificate_sha256 = choice.trusted_sha256;
  return server;
}

class RealAccountRoute::SessionCheck final : public AccountCheck {
 public:
  AccountCheckOutcome Check(AccountChoice& choice,
                            const std::function<bool()>& cancelled) override {
    const ImapServer server = ServerFor(choice);
    if (server.host.empty()) return {false, u"Give the server's name.", std::nullopt};
    if (Trimmed(choice.user).empty()) return {false, u"Give the account name.", std::nullopt};
    const LoginCheck check =
        CheckLogin(server, Utf16ToUtf8(Trimmed(choice.user)), choice.password, cancelled);
    AccountCheckOutcome outcome{check.logged_in, check.why, std::nullopt};
    const PeerCertificate& c = check.certificate;
    if (!check.logged_in && c.known && c.untrusted) {
      outcome.question = CertificateQuestion{c.sha256, c.subject, c.issuer, c.not_before,
                                             c.not_after};
    }
    return outcome;
  }
};

namespace {

class RealAccountUpload final : public AccountUpload {
 public:
  explicit RealAccountUpload(const RealAccountRoute::Variable& variable) : variable_(variable) {}

  AccountRunResult Run(const std::u16string& folder, const AccountChoice& choice,
                       UploadEvents& events) override {
    FileSystem& fs = RealFileSystem();
    UploadOptions options;
    options.server = ServerFor(choice);
    options.user = Utf16ToUtf8(Trimmed(choice.user));
    options.password = choice.password;
    const std::u16string place = JournalFolder(variable_, fs.Separator());
    const std::u16string stem = JournalFileName(options.user, options.server.host,
                                                options.server.port);
    std::u16string journal_error;
    std::unique_ptr<JournalFile> journal;
    if (!place.empty()) {
      journal = OpenAccountJournal(place, options.user, options.server.host, options.server.port,
                                   journal_error);
    }
    options.journal = journal.get();

    std::u16string root = fs.AbsolutePath(folder);
    if (!root.empty() && root.back() != fs.Separator()) root.push_back(fs.Separator());
    TreeUploadSource source(fs, root, static_cast<int64_t>(std::time(nullptr)));
    Uploader uploader(&events);
    AccountRunResult result;
    uploader.Run(source, options, result.report);
    if (!source.Report().Empty()) result.mends = ReportSummary(source.Report());
    if (place.empty()) {
      result.report_error = u"no folder for this user's data is known";
      return result;
    }
    const std::u16string report_path =
        place + stem.substr(0, stem.rfind(u'.')) + u" - report.txt";
    const std::u16string eol = fs.Separator() == u'\\' ? u"\r\n" : u"\n";
    if (WriteReport(fs, report_path, FullUploadReportText(result.report, source.Report(), eol),
                    result.report_error)) {
      result.report_file = report_path;
    }
    return result;
  }

 private:
  RealAccountRoute::Variable variable_;
};

}  // namespace

RealAccountRoute::RealAccountRoute(AccountSettings& settings, Variable variable)
    : settings_(settings), variable_(std::move(variable)),
      check_(std::make_unique<SessionCheck>()) {}

RealAccountRoute::~RealAccountRoute() = default;

AccountCheck& RealAccountRoute::Check() { return *check_; }

std::unique_ptr<AccountUpload> RealAccountRoute::CreateUpload() {
  return std::make_unique<RealAccountUpload>(variable_);
}

}  // namespace mailsheaf
