// The IMAP client session: here its states, its bookkeeping of commands and the wire; its
// parts for connecting and logging in, mailbox commands and appends are in
// imap_session_connect.cpp, imap_session_mailboxes.cpp and imap_session_append.cpp.
//
// States (RFC 3501, 3): kDisconnected until the greeting; then kNotAuthenticated (or
// kAuthenticated at once on PREAUTH); LOGIN/AUTHENTICATE leads to kAuthenticated; a good
// SELECT/EXAMINE to kSelected and a failed one back to kAuthenticated; LOGOUT to kLoggedOut.
// A connection that drops, or a server answer that cannot be read, ends in kDisconnected: the
// byte stream cannot be trusted after either, so the transport is closed at once.
//
// Pipelining: every command gets a tag and a Pending entry; answers are matched by tag, since
// a server may finish commands out of order. APPENDs do not wait for their answers: with
// LITERAL+ the message follows its "{n+}" at once, otherwise Send waits for the "+" of each
// literal (reading earlier appends' answers meanwhile) but never for the answer itself. At
// most max_appends_in_flight appends and max_bytes_in_flight of their bytes wait for answers;
// their results go to AppendDone in the order they were sent. Other commands wait for their
// own answer, reading whatever comes before it.
//
// Bounds: the reader bounds every line, literal and response; the parser the items and depth
// of one response; LIST and FETCH bound how many entries they collect. Nothing the server
// sends grows without a limit.
//
// The password goes into the command bytes and nowhere else: error texts are built from the
// server's answers and the transport's words only.

#include "upload/imap_session.h"

#include <algorithm>

#include "upload/imap_session_words.h"
#include "upload/mailbox_name.h"

namespace mailsheaf {

using namespace imap_words;  // NOLINT: the session's own small helpers

bool MailboxEntry::HasAttribute(std::string_view attribute) const {
  for (const std::string& a : attributes) {
    if (SameAsciiLetters(a, attribute)) return true;
  }
  return false;
}

bool MailboxEntry::Selectable() const {
  return !HasAttribute("\\Noselect") && !HasAttribute("\\NonExistent");
}

std::string MailboxEntry::SpecialUse() const {
  static constexpr std::string_view kUses[] = {"\\All",  "\\Archive", "\\Drafts", "\\Flagged",
                                               "\\Junk", "\\Sent",    "\\Trash"};
  for (std::string_view use : kUses) {
    if (HasAttribute(use)) return std::string(use);
  }
  return {};
}

ImapSession::ImapSession(std::unique_ptr<Transport> transport, ImapLimits limits)
    : transport_(std::move(transport)), limits_(limits), reader_(*transport_, limits_.responses) {}

ImapSession::~ImapSession() { transport_->Close(); }

void ImapSession::SetCancel(std::function<bool()> cancelled) {
  cancelled_ = cancelled;
  transport_->SetCancel(std::move(cancelled));
}

bool ImapSession::HasCapability(std::string_view name) const {
  for (const std::string& c : capabilities_) {
    if (SameAsciiLetters(c, name)) return true;
  }
  return false;
}

bool ImapSession::Require(ImapState lowest, ImapError& error) const {
  if (state_ >= lowest && state_ != ImapState::kLoggedOut && state_ != ImapState::kDisconnected) {
    return true;
  }
  error = {ImapErrorKind::kUsage,
           state_ == ImapState::kDisconnected || state_ == ImapState::kLoggedOut
               ? u"The session is not connected"
               : u"The session is not in the state this needs"};
  return false;
}

std::string ImapSession::EncodeName(std::u16string_view name) const {
  return utf8_names_ ? Utf16ToUtf8(name) : EncodeModifiedUtf7(name);
}

std::u16string ImapSession::DecodeName(const std::string& wire) const {
  std::u16string name;
  if (utf8_names_ || !DecodeModifiedUtf7(wire, name)) name = Utf8ToUtf16(wire);
  return name;
}

// ---- Leaving ----

bool ImapSession::Logout(ImapError& error) {
  if (state_ == ImapState::kDisconnected || state_ == ImapState::kLoggedOut) return true;
  if (!FinishAppends(error)) return false;
  ImapResponse answer;
  const bool ran = Run(ImapCommand("LOGOUT"), nullptr, answer, error);
  const bool said_bye = !bye_text_.empty();
  transport_->Close();
  reader_.Clear();
  state_ = ImapState::kLoggedOut;
  // A server that said BYE and closed before its OK has still logged us out.
  return ran || said_bye;
}

void ImapSession::Disconnect() {
  ImapError ignored;
  Lost(ImapErrorKind::kConnectionLost, u"Disconnected", ignored);
}

bool ImapSession::Lost(ImapErrorKind kind, std::u16string text, ImapError& error) {
  transport_->Close();
  reader_.Clear();
  state_ = ImapState::kDisconnected;
  std::deque<Pending> lost;
  lost.swap(pending_);
  appends_in_flight_ = 0;
  bytes_in_flight_ = 0;
  if (kind == ImapErrorKind::kConnectionLost && !bye_text_.empty()) {
    text += u" (the server said: " + Utf8ToUtf16(bye_text_) + u")";
  }
  error = {kind, std::move(text)};
  for (const Pending& p : lost) {
    if (!p.append) continue;
    Report(p, p.done ? AppendResult::Outcome::kStored : AppendResult::Outcome::kUnconfirmed,
           error.text);
  }
  return false;
}

// ---- The wire ----

bool ImapSession::WriteBytes(std::string_view bytes, ImapError& error) {
  std::u16string reason;
  const TransportStatus status = transport_->WriteAll(bytes.data(), bytes.size(), reason);
  if (status != TransportStatus::kOk) {
    return Lost(status == TransportStatus::kStopped || Cancelled() ? ImapErrorKind::kStopped
                                                                   : ImapErrorKind::kConnectionLost,
                reason, error);
  }
  return true;
}

// What Send gathers before it writes; a larger literal goes out by itself.
constexpr size_t kCoalescedBytes = 256 * 1024;

bool ImapSession::Send(const ImapCommand& command, Pending*& pending, ImapError& error,
                       std::vector<uint64_t> append_ids) {
  Pending entry;
  entry.tag = "m";
  entry.tag += std::to_string(next_tag_++);
  entry.sending = true;
  if (command.pieces().front().text.starts_with("APPEND")) {
    entry.append = true;
    entry.append_ids = std::move(append_ids);
    entry.bytes = command.LiteralBytes();
    appends_in_flight_ += entry.append_ids.size();
    bytes_in_flight_ += entry.bytes;
  }
  pending_.push_back(std::move(entry));
  pending = &pending_.back();
  std::string text = pending->tag + ' ';
  for (const ImapCommand::Piece& piece : command.pieces()) {
    text += piece.text;
    if (!piece.has_literal) break;
    // RFC 7888: LITERAL- allows it up to 4096 bytes.
    const bool literal_plus =
        limits_.use_literal_plus &&
        ((HasCapability("LITERAL+") && piece.literal.size() <= limits_.max_literal_plus) ||
         (HasCapability("LITERAL-") && piece.literal.size() <= 4096));
    text += '{';
    text += std::to_string(piece.literal.size());
    text += literal_plus ? "+}\r\n" : "}\r\n";
    // Small literals go out together with the text around them: a record and a packet for a
    // whole batch rather than two for every message, which costs the server as much as us.
    if (literal_plus && text.size() + piece.literal.size() <= kCoalescedBytes) {
      text.append(piece.literal);
      continue;
    }
    if (!WriteBytes(text, error)) return false;
    text.clear();
    if (!literal_plus) {
      if (!AwaitContinuation(*pending, error)) return false;
      // Answered instead of invited: the rest of the command is not sent.
      if (pending->done) break;
    }
    if (!WriteBytes(piece.literal, error)) return false;
  }
  if (!pending->done && !WriteBytes(text + "\r\n", error)) return false;
  pending->sending = false;
  DeliverAppends();
  return true;
}

bool ImapSession::AwaitContinuation(const Pending& pending, ImapError& error) {
  continuation_ = false;
  while (!continuation_ && !pending.done) {
    if (!ReadOne(error)) return false;
  }
  return true;
}

bool ImapSession::Run(const ImapCommand& command, const DataSink& sink, ImapResponse& answer,
                      ImapError& error) {
  const DataSink* outer = sink_;
  sink_ = sink ? &sink : nullptr;
  Pending* pending = nullptr;
  bool ok = Send(command, pending, error);
  while (ok && !pending->done) ok = ReadOne(error);
  sink_ = outer;
  if (!ok) return false;
  answer = std::move(pending->answer);
  const std::string tag = pending->tag;
  std::erase_if(pending_, [&tag](const Pending& p) { return p.tag == tag; });
  DeliverAppends();
  return true;
}

bool ImapSession::RunOk(const ImapCommand& command, const DataSink& sink, ImapError& error) {
  ImapResponse answer;
  if (!Run(command, sink, answer, error)) return false;
  if (answer.status == "OK") return true;
  error = {ImapErrorKind::kRefused, Utf8ToUtf16(answer.text)};
  return false;
}

bool ImapSession::ReadOne(ImapError& error) {
  std::string raw;
  std::u16string reason;
  switch (reader_.Next(raw, reason)) {
    case ReadOutcome::kOk:
      break;
    case ReadOutcome::kMalformed:
      return Lost(ImapErrorKind::kProtocol, reason, error);
    case ReadOutcome::kClosed:
    case ReadOutcome::kFailed:
      return Lost(Cancelled() ? ImapErrorKind::kStopped : ImapErrorKind::kConnectionLost, reason,
                  error);
    case ReadOutcome::kStopped:
      return Lost(ImapErrorKind::kStopped, reason, error);
  }
  ImapResponse response;
  std::string why;
  if (!ParseImapResponse(raw, limits_.responses, response, why)) {
    return Lost(ImapErrorKind::kProtocol,
                u"The server sent an answer that cannot be read (" + AsciiToUtf16(why) +
                    u"): " + ServerWords(raw),
                error);
  }
  if (response.kind == ImapResponse::Kind::kContinuation) {
    continuation_ = true;
    return true;
  }
  if (response.tag == "*") {
    ImapError failure;
    if (!HandleUntagged(response, failure)) return Lost(failure.kind, failure.text, error);
    return true;
  }
  auto found = std::find_if(pending_.begin(), pending_.end(),
                            [&](const Pending& p) { return p.tag == response.tag && !p.done; });
  if (found == pending_.end()) {
    return Lost(ImapErrorKind::kProtocol,
                u"The server answered a command that was not sent: " + ServerWords(raw), error);
  }
  TakeCapabilityCode(response.code);
  found->done = true;
  if (found->append) {
    appends_in_flight_ -= found->append_ids.size();
    bytes_in_flight_ -= found->bytes;
  }
  found->answer = std::move(response);
  DeliverAppends();
  return true;
}

bool ImapSession::HandleUntagged(const ImapResponse& response, ImapError& error) {
  if (response.kind == ImapResponse::Kind::kStatus) {
    TakeCapabilityCode(response.code);
    if (response.status == "BYE") bye_text_ = response.text;
    if (selecting_ != nullptr) {
      uint64_t number = 0;
      const std::string_view code = response.code;
      if (StartsWithWord(code, "UIDVALIDITY") &&
          ParseImapNumber(code.substr(12), UINT32_MAX, number)) {
        selecting_->uid_validity = static_cast<uint32_t>(number);
      } else if (StartsWithWord(code, "UIDNEXT") &&
                 ParseImapNumber(code.substr(8), UINT32_MAX, number)) {
        selecting_->uid_next = static_cast<uint32_t>(number);
      }
    }
  } else if (response.name == "CAPABILITY") {
    TakeCapabilities(response.items);
  } else if (response.name == "EXISTS" && response.has_number) {
    selected_exists_ = response.number;
    if (selecting_ != nullptr) selecting_->exists = response.number;
  }
  return sink_ == nullptr || (*sink_)(response, error);
}

}  // namespace mailsheaf
