#pragma once
// The account's server and name, and a certificate the person chose to trust for that server,
// kept under the current user's key of the registry (the password never).

#include "app/account_route.h"

namespace mailsheaf {

class RegistrySettings final : public AccountSettings {
 public:
  AccountChoice Load() override;
  void Save(const AccountChoice& choice) override;
  void Forget() override;
};

}  // namespace mailsheaf
