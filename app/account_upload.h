#pragma once
// The window's account route as it really is: the IMAP engine of upload/ on the tree through
// the message pipeline, its journal and its report kept in the per-user folder (where the
// packer keeps them), the check a session that logs in and out. The settings come from the
// platform (the registry on Windows).

#include <functional>
#include <memory>
#include <string>

#include "app/account_route.h"
#include "upload/imap_session.h"

namespace mailsheaf {

// The server as the session reaches it: "host" or "host:port", the port else the security's.
ImapServer ServerFor(const AccountChoice& choice);

class RealAccountRoute final : public AccountRoute {
 public:
  // `variable` reads the environment, for the per-user folder.
  using Variable = std::function<bool(const char* name, std::string& value)>;
  RealAccountRoute(AccountSettings& settings, Variable variable);
  ~RealAccountRoute() override;

  AccountCheck& Check() override;
  AccountSettings& Settings() override { return settings_; }
  std::unique_ptr<AccountUpload> CreateUpload() override;

 private:
  class SessionCheck;
  AccountSettings& settings_;
  Variable variable_;
  std::unique_ptr<SessionCheck> check_;
};

}  // namespace mailsheaf
