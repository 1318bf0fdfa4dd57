// The IMAP session, connecting: the greeting, STARTTLS with its checks, the capabilities, and
// logging in (AUTHENTICATE PLAIN, with or without SASL-IR, else LOGIN).

#include "upload/imap_session.h"
#include "upload/imap_session_words.h"
#include "upload/internal_date.h"
#include "upload/mailbox_name.h"

namespace mailsheaf {

using namespace imap_words;  // NOLINT: the session's own small helpers

bool ImapSession::Connect(const ImapServer& server, ImapError& error) {
  if (state_ != ImapState::kDisconnected && state_ != ImapState::kLoggedOut) {
    error = {ImapErrorKind::kUsage, u"The session is connected already"};
    return false;
  }
  capabilities_.clear();
  utf8_names_ = false;
  bye_text_.clear();
  reader_.Clear();
  std::u16string reason;
  if (!transport_->Connect(server.host, server.port, server.timeout_ms, reason) ||
      (server.security == ImapSecurity::kTls && !transport_->StartTls(server.tls, reason))) {
    transport_->Close();
    error = {Cancelled() ? ImapErrorKind::kStopped : ImapErrorKind::kConnect, reason};
    return false;
  }
  state_ = ImapState::kNotAuthenticated;  // for the reads below; settled by the greeting
  ImapResponse greeting;
  const DataSink take_greeting = [&greeting](const ImapResponse& r, ImapError&) {
    greeting = r;
    return true;
  };
  sink_ = &take_greeting;
  const bool read = ReadOne(error);
  sink_ = nullptr;
  if (!read || greeting.kind != ImapResponse::Kind::kStatus || greeting.status == "BYE") {
    const ImapError failure =
        read ? ImapError{ImapErrorKind::kConnect,
                         u"The server did not greet: " + ServerWords(greeting.text)}
             : error;
    Disconnect();
    error = {failure.kind == ImapErrorKind::kStopped ? failure.kind : ImapErrorKind::kConnect,
             failure.text};
    return false;
  }
  if (greeting.status == "PREAUTH") state_ = ImapState::kAuthenticated;
  if (capabilities_.empty() && !RefreshCapabilities(error)) return false;
  if (server.security != ImapSecurity::kStartTls) return true;

  if (!HasCapability("STARTTLS")) {
    Disconnect();
    error = {ImapErrorKind::kConnect,
             u"The server " + Utf8ToUtf16(server.host) +
                 u" does not offer STARTTLS; use imaps:// or its TLS port"};
    return false;
  }
  if (!RunOk(ImapCommand("STARTTLS"), nullptr, error)) return false;
  // Bytes after the OK would have come unprotected and must not be taken as the server's.
  if (reader_.HasBuffered()) {
    Disconnect();
    return ProtocolFailure("The server sent data after agreeing to STARTTLS", error);
  }
  if (!transport_->StartTls(server.tls, reason)) {
    Disconnect();
    error = {Cancelled() ? ImapErrorKind::kStopped : ImapErrorKind::kConnect, reason};
    return false;
  }
  capabilities_.clear();
  return RefreshCapabilities(error);
}

bool ImapSession::RefreshCapabilities(ImapError& error) {
  capabilities_.clear();
  return RunOk(ImapCommand("CAPABILITY"), nullptr, error);
}

void ImapSession::TakeCapabilities(const std::vector<ImapItem>& items) {
  capabilities_.clear();
  for (const ImapItem& item : items) {
    if (item.kind == ImapItem::Kind::kAtom) capabilities_.push_back(AsciiUpper(item.text));
  }
}

void ImapSession::TakeCapabilityCode(const std::string& code) {
  if (!StartsWithWord(code, "CAPABILITY")) return;
  capabilities_.clear();
  std::string_view rest = std::string_view(code).substr(10);
  while (!rest.empty()) {
    const size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    const size_t end = rest.find(' ');
    capabilities_.push_back(AsciiUpper(rest.substr(0, end)));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
  }
}

bool ImapSession::Login(std::string_view user, std::string_view password, ImapError& error) {
  if (state_ != ImapState::kNotAuthenticated) {
    error = {ImapErrorKind::kUsage,
             u"Logging in needs a session that is connected and not logged in"};
    return false;
  }
  if (HasCapability("LOGINDISABLED")) {
    error = {ImapErrorKind::kRefused,
             u"The server accepts no login on this connection; it needs TLS first"};
    return false;
  }
  ImapResponse answer;
  if (HasCapability("AUTH=PLAIN")) {
    std::string credentials =
        std::string(1, '\0') + std::string(user) + '\0' + std::string(password);
    std::string response = Base64(credentials);
    credentials.assign(credentials.size(), '\0');
    ImapCommand command("AUTHENTICATE PLAIN");
    if (HasCapability("SASL-IR")) {
      command.Add(response);
      if (!Run(command, nullptr, answer, error)) return false;
    } else {
      Pending* pending = nullptr;
      if (!Send(command, pending, error) || !AwaitContinuation(*pending, error)) return false;
      if (!pending->done && !WriteBytes(response + "\r\n", error)) return false;
      while (!pending->done) {
        if (!ReadOne(error)) return false;
      }
      answer = pending->answer;
      std::erase_if(pending_, [&](const Pending& p) { return p.tag == answer.tag; });
    }
    response.assign(response.size(), '\0');
  } else {
    ImapCommand command("LOGIN");
    command.AddString(user, false).AddString(password, false);
    if (!Run(command, nullptr, answer, error)) return false;
  }
  if (answer.status != "OK") {
    error = {ImapErrorKind::kRefused, Utf8ToUtf16(answer.text)};
    return false;
  }
  state_ = ImapState::kAuthenticated;
  // Servers offer more once logged in; the OK may have said so already.
  return StartsWithWord(answer.code, "CAPABILITY") || RefreshCapabilities(error);
}

bool ImapSession::EnableUtf8(ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  if (!HasCapability("UTF8=ACCEPT")) return true;
  bool enabled = false;
  const DataSink take = [&enabled](const ImapResponse& r, ImapError&) {
    for (const ImapItem& item : r.items)
      enabled |= r.name == "ENABLED" && item.IsAtom("UTF8=ACCEPT");
    return true;
  };
  if (!RunOk(ImapCommand("ENABLE UTF8=ACCEPT"), take, error)) return false;
  utf8_names_ = enabled;
  return true;
}

}  // namespace mailsheaf
