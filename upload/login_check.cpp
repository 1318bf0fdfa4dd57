#include "upload/login_check.h"

namespace mailsheaf {

LoginCheck CheckLogin(const ImapServer& server, const std::string& user,
                      const std::string& password, const std::function<bool()>& cancelled) {
  ImapSession session(MakeNetworkTransport());
  session.SetCancel(cancelled);
  ImapError error;
  LoginCheck check;
  if (!session.Connect(server, error)) {
    check.why = error.kind == ImapErrorKind::kStopped ? u"Cancelled."
                                                      : u"Could not connect: " + error.text;
    check.certificate = session.LastPeerCertificate();
    return check;
  }
  if (session.State() == ImapState::kNotAuthenticated &&
      !session.Login(user, password, error)) {
    check.why = error.kind == ImapErrorKind::kRefused
                    ? u"The server refused the account name or the password: " + error.text
                : error.kind == ImapErrorKind::kStopped ? u"Cancelled."
                                                        : u"Could not log in: " + error.text;
    return check;
  }
  session.Logout(error);
  check.logged_in = true;
  return check;
}

}  // namespace mailsheaf
