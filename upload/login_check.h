#pragma once
// Connects to the account's server and logs in and out, nothing more: what a person is told
// before anything is sent (a wrong password, a server not found, a certificate not trusted),
// with the certificate the handshake met, for the question whether to trust it.

#include <functional>
#include <string>

#include "upload/imap_session.h"

namespace mailsheaf {

struct LoginCheck {
  bool logged_in = false;
  std::u16string why;           // in words, when not
  PeerCertificate certificate;  // as the handshake met it
};

// `cancelled` is asked while it waits on the network.
LoginCheck CheckLogin(const ImapServer& server, const std::string& user,
                      const std::string& password, const std::function<bool()>& cancelled);

}  // namespace mailsheaf
