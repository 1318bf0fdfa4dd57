#pragma once
// The account dialog of "Send to Mail Account...": the server, how to connect, the account
// name, the password (hidden) and whether to remember the server and the account. Its OK
// connects and logs in before it closes: a busy pointer meanwhile, Cancel still answering, and
// a failure said in the dialog with what was typed kept. A dialog template built in memory, so
// that Windows lays it out in dialog units at the screen's DPI.

#include <optional>

#include "app/account_route.h"
#include "app/win32/windows_api.h"

namespace mailsheaf {

// Control identifiers, for the window's tests too.
enum AccountDialogControl : int {
  kAccountServer = 101,
  kAccountSecurity = 102,
  kAccountUser = 103,
  kAccountPassword = 104,
  kAccountRemember = 105,
  kAccountStatus = 106,
};

std::optional<AccountChoice> RunAccountDialog(HWND owner, const AccountChoice& initial,
                                              AccountCheck& check);

}  // namespace mailsheaf
