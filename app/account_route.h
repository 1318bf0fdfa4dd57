#pragma once
// What the window needs to send the chosen folder straight into a mail account over IMAP: the
// account as the person gives it, the check that logs in before anything is sent, the settings
// remembered for the next time, and the run itself. The window reaches each through a seam, so
// that its tests put fakes there; the real ones are in account_upload.h and app/win32/.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "upload/upload_events.h"
#include "upload/upload_report.h"

namespace mailsheaf {

enum class AccountSecurity { kTls, kStartTls, kPlain };

// The default port of each way to connect, as the dialog's list names them.
inline uint16_t DefaultPort(AccountSecurity security) {
  return security == AccountSecurity::kTls ? 993 : 143;
}

struct AccountChoice {
  std::u16string host;  // a host name, or "host:port" for another port
  AccountSecurity security = AccountSecurity::kTls;
  std::u16string user;
  std::string password;          // never remembered
  bool remember = true;          // the server and the account, for the next time
  std::string trusted_sha256;    // the one certificate the person chose to trust for this server
};

// A certificate that no authority the system trusts vouches for, which the person may choose
// to trust: what the question shows.
struct CertificateQuestion {
  std::string sha256;  // "AB:CD:..."
  std::u16string subject;
  std::u16string issuer;
  int64_t not_before = 0;
  int64_t not_after = 0;
};

struct AccountCheckOutcome {
  bool logged_in = false;
  std::u16string why;  // in words, when not
  std::optional<CertificateQuestion> question;  // when the certificate is what stands in the way
};

// Connects and logs in (and out), nothing more; `cancelled` is asked while it waits. The
// window's own check may add the certificate the person chose to trust to the choice.
class AccountCheck {
 public:
  virtual ~AccountCheck() = default;
  virtual AccountCheckOutcome Check(AccountChoice& choice,
                                    const std::function<bool()>& cancelled) = 0;
};

// The server and account (never the password), kept for the person between runs.
class AccountSettings {
 public:
  virtual ~AccountSettings() = default;
  virtual AccountChoice Load() = 0;
  virtual void Save(const AccountChoice& choice) = 0;
  virtual void Forget() = 0;
};

// What one run into the account gives back.
struct AccountRunResult {
  UploadReport report;
  std::u16string mends;        // what was adjusted or left out on the way; empty for nothing
  std::u16string report_file;  // where the report was saved; empty when it was not
  std::u16string report_error;
};

// One run: the folder into the account, its events on the caller's thread, inside Run.
class AccountUpload {
 public:
  virtual ~AccountUpload() = default;
  virtual AccountRunResult Run(const std::u16string& folder, const AccountChoice& choice,
                               UploadEvents& events) = 0;
};

// All the window needs for the account route.
class AccountRoute {
 public:
  virtual ~AccountRoute() = default;
  virtual AccountCheck& Check() = 0;
  virtual AccountSettings& Settings() = 0;
  virtual std::unique_ptr<AccountUpload> CreateUpload() = 0;
};

}  // namespace mailsheaf
