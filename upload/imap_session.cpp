// The IMAP client session.
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

#include "base/ascii.h"
#include "base/report_text.h"
#include "base/text.h"
#include "mail/message_header.h"
#include "upload/internal_date.h"
#include "upload/mailbox_name.h"

namespace mailsheaf {
namespace {

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (i + 1 < bytes.size())
      group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
  }
  return out;
}

bool StartsWithWord(std::string_view text, std::string_view word) {
  return text.size() >= word.size() && SameAsciiLetters(text.substr(0, word.size()), word) &&
         (text.size() == word.size() || text[word.size()] == ' ');
}

// "APPENDUID 38 12" or, for a batch, "APPENDUID 38 12:14,20" (RFC 4315: the UIDs in the order
// of the messages): the validity and exactly `count` UIDs, or nothing.
bool ParseAppendUid(const std::string& code, size_t count, uint32_t& validity,
                    std::vector<uint32_t>& uids) {
  uids.clear();
  if (!StartsWithWord(code, "APPENDUID")) return false;
  const std::string_view rest = std::string_view(code).substr(10);
  const size_t space = rest.find(' ');
  uint64_t v = 0;
  if (space == std::string_view::npos || !ParseImapNumber(rest.substr(0, space), UINT32_MAX, v)) {
    return false;
  }
  std::string_view set = rest.substr(space + 1);
  while (!set.empty()) {
    const size_t comma = std::min(set.find(','), set.size());
    const std::string_view range = set.substr(0, comma);
    set.remove_prefix(std::min(comma + 1, set.size()));
    const size_t colon = range.find(':');
    uint64_t first = 0, last = 0;
    if (!ParseImapNumber(range.substr(0, colon), UINT32_MAX, first)) return false;
    last = first;
    if (colon != std::string_view::npos &&
        !ParseImapNumber(range.substr(colon + 1), UINT32_MAX, last)) {
      return false;
    }
    if (first > last) std::swap(first, last);
    if (first == 0 || last - first >= count - uids.size()) return false;  // more than sent
    for (uint64_t uid = first; uid <= last; ++uid) uids.push_back(static_cast<uint32_t>(uid));
  }
  validity = static_cast<uint32_t>(v);
  return uids.size() == count;
}

// The server's own words for a response we could not take, escaped and cut short.
std::u16string ServerWords(std::string_view raw) {
  constexpr size_t kShown = 160;
  while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.remove_suffix(1);
  const bool cut = raw.size() > kShown;
  return Shown(Utf8ToUtf16(raw.substr(0, kShown))) + (cut ? u"..." : u"");
}

// The Message-ID field's value in a header block, read by the same rule as the message's own
// (the resume check compares the two).
std::string MessageIdOf(std::string_view header) {
  MessageHeaderScanner scanner;
  scanner.Feed(reinterpret_cast<const unsigned char*>(header.data()), header.size());
  scanner.Finish();
  return scanner.MessageId();
}

// "\Seen" or a keyword: atom characters (RFC 3501, 9) after an optional backslash.
bool IsFlag(std::string_view flag) {
  if (!flag.empty() && flag.front() == '\\') flag.remove_prefix(1);
  if (flag.empty()) return false;
  for (char c : flag) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f ||
        std::string_view("(){%*\"\\]").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

bool ProtocolFailure(const char* what, ImapError& error) {
  error = {ImapErrorKind::kProtocol, AsciiToUtf16(what)};
  return false;
}

}  // namespace

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

// ---- Connecting and logging in ----

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

// ---- Mailboxes ----

bool ImapSession::List(std::vector<MailboxEntry>& mailboxes, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  mailboxes.clear();
  const DataSink take = [&](const ImapResponse& r, ImapError& failure) {
    if (r.name != "LIST") return true;
    if (r.items.size() != 3 || r.items[0].kind != ImapItem::Kind::kList ||
        r.items[2].kind == ImapItem::Kind::kList || r.items[2].kind == ImapItem::Kind::kNil) {
      return ProtocolFailure("The server sent a LIST answer that cannot be read", failure);
    }
    if (mailboxes.size() >= limits_.max_mailboxes) {
      return ProtocolFailure("The server listed more mailboxes than allowed", failure);
    }
    MailboxEntry entry;
    for (const ImapItem& attribute : r.items[0].items) entry.attributes.push_back(attribute.text);
    const std::string& delimiter = r.items[1].text;
    if (r.items[1].kind != ImapItem::Kind::kNil && delimiter.size() == 1) {
      entry.delimiter = static_cast<char16_t>(static_cast<unsigned char>(delimiter[0]));
    }
    entry.wire_name = r.items[2].text;
    entry.name = DecodeName(entry.wire_name);
    mailboxes.push_back(std::move(entry));
    return true;
  };
  return RunOk(ImapCommand("LIST").Add("\"\" \"*\""), take, error);
}

bool ImapSession::Namespace(PersonalNamespace& personal, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  personal = PersonalNamespace{};
  if (!HasCapability("NAMESPACE")) return true;
  // * NAMESPACE (("INBOX." ".")) NIL NIL: the first personal namespace is the account's own.
  const DataSink take = [&](const ImapResponse& r, ImapError&) {
    if (r.name != "NAMESPACE" || r.items.empty() || r.items[0].kind != ImapItem::Kind::kList ||
        r.items[0].items.empty()) {
      return true;
    }
    const ImapItem& first = r.items[0].items[0];
    if (first.kind != ImapItem::Kind::kList || first.items.size() < 2) return true;
    personal.prefix = DecodeName(first.items[0].text);
    const ImapItem& delimiter = first.items[1];
    if (delimiter.kind != ImapItem::Kind::kNil && delimiter.text.size() == 1) {
      personal.delimiter = static_cast<char16_t>(static_cast<unsigned char>(delimiter.text[0]));
    }
    return true;
  };
  // A server that will not say has no prefix worth knowing.
  ImapResponse answer;
  return Run(ImapCommand("NAMESPACE"), take, answer, error);
}

bool ImapSession::QuotaRoot(std::u16string_view mailbox, StorageQuota& quota, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  quota = StorageQuota{};
  if (!HasCapability("QUOTA")) return true;
  // * QUOTA "User quota" (STORAGE 10 512): kibibytes used and allowed.
  const DataSink take = [&](const ImapResponse& r, ImapError&) {
    if (r.name != "QUOTA" || r.items.size() < 2 || r.items[1].kind != ImapItem::Kind::kList) {
      return true;
    }
    const std::vector<ImapItem>& triples = r.items[1].items;
    for (size_t i = 0; i + 2 < triples.size(); i += 3) {
      uint64_t used = 0, limit = 0;
      if (triples[i].IsAtom("STORAGE") && ParseImapNumber(triples[i + 1].text, UINT64_MAX >> 10, used) &&
          ParseImapNumber(triples[i + 2].text, UINT64_MAX >> 10, limit) &&
          (!quota.known || limit * 1024 - std::min(limit * 1024, used * 1024) <
                               quota.limit - std::min(quota.limit, quota.used))) {
        quota = {true, used * 1024, limit * 1024};
      }
    }
    return true;
  };
  ImapResponse answer;
  if (!Run(ImapCommand("GETQUOTAROOT").AddString(EncodeName(mailbox), utf8_names_), take, answer,
           error)) {
    return false;
  }
  return true;  // a refusal only means the quota is not known
}

bool ImapSession::Create(std::u16string_view mailbox, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  return RunOk(ImapCommand("CREATE").AddString(EncodeName(mailbox), utf8_names_), nullptr, error);
}

bool ImapSession::Select(std::u16string_view mailbox, bool read_only, MailboxStatus& status,
                         ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  status = MailboxStatus{};
  selecting_ = &status;
  ImapResponse answer;
  const bool ran =
      Run(ImapCommand(read_only ? "EXAMINE" : "SELECT").AddString(EncodeName(mailbox), utf8_names_),
          nullptr, answer, error);
  selecting_ = nullptr;
  if (!ran) return false;
  if (answer.status != "OK") {
    state_ = ImapState::kAuthenticated;
    error = {ImapErrorKind::kRefused, Utf8ToUtf16(answer.text)};
    return false;
  }
  status.read_only = read_only || StartsWithWord(answer.code, "READ-ONLY");
  selected_exists_ = status.exists;
  selected_read_only_ = read_only;
  state_ = ImapState::kSelected;
  return true;
}

bool ImapSession::Unselect(ImapError& error) {
  if (!Require(ImapState::kSelected, error)) return false;
  const bool unselect = HasCapability("UNSELECT");
  if (!unselect && !selected_read_only_) {
    // CLOSE would expunge a mailbox opened for writing.
    error = {ImapErrorKind::kUsage, u"Only a mailbox opened read-only is left by CLOSE"};
    return false;
  }
  if (!RunOk(ImapCommand(unselect ? "UNSELECT" : "CLOSE"), nullptr, error)) return false;
  state_ = ImapState::kAuthenticated;
  return true;
}

bool ImapSession::Status(std::u16string_view mailbox, uint32_t& messages, ImapError& error) {
  MailboxStatus status;
  if (!Status(mailbox, status, error)) return false;
  messages = status.exists;
  return true;
}

bool ImapSession::Status(std::u16string_view mailbox, MailboxStatus& status, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  status = MailboxStatus{};
  bool found = false;
  const DataSink take = [&](const ImapResponse& r, ImapError&) {
    if (r.name != "STATUS" || r.items.size() != 2 || r.items[1].kind != ImapItem::Kind::kList)
      return true;
    const std::vector<ImapItem>& pairs = r.items[1].items;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
      uint64_t number = 0;
      if (!ParseImapNumber(pairs[i + 1].text, UINT32_MAX, number)) continue;
      if (pairs[i].IsAtom("MESSAGES")) {
        status.exists = static_cast<uint32_t>(number);
        found = true;
      } else if (pairs[i].IsAtom("UIDNEXT")) {
        status.uid_next = static_cast<uint32_t>(number);
      } else if (pairs[i].IsAtom("UIDVALIDITY")) {
        status.uid_validity = static_cast<uint32_t>(number);
      }
    }
    return true;
  };
  if (!RunOk(ImapCommand("STATUS")
                 .AddString(EncodeName(mailbox), utf8_names_)
                 .Add("(MESSAGES UIDNEXT UIDVALIDITY)"),
             take, error)) {
    return false;
  }
  if (!found) return ProtocolFailure("The server's STATUS answer had no MESSAGES count", error);
  return true;
}

bool ImapSession::FetchStoredMessages(std::vector<StoredMessage>& messages, ImapError& error) {
  messages.clear();
  return FetchStoredMessages(
      [&messages](const StoredMessage& m, ImapError&) {
        messages.push_back(m);
        return true;
      },
      error);
}

bool ImapSession::FetchStoredMessages(const TakeStored& take_stored, ImapError& error) {
  if (!Require(ImapState::kSelected, error)) return false;
  size_t taken = 0;
  ImapError refusal;
  // "1:*" in an empty mailbox is an error on some servers.
  if (selected_exists_ == 0) return true;
  const DataSink take = [&](const ImapResponse& r, ImapError& failure) {
    if (r.name != "FETCH" || r.items.empty() || r.items[0].kind != ImapItem::Kind::kList)
      return true;
    const std::vector<ImapItem>& pairs = r.items[0].items;
    StoredMessage message;
    bool has_uid = false, has_size = false, has_date = false;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
      const ImapItem& key = pairs[i];
      const ImapItem& value = pairs[i + 1];
      uint64_t number = 0;
      if (key.IsAtom("UID") && ParseImapNumber(value.text, UINT32_MAX, number)) {
        message.uid = static_cast<uint32_t>(number);
        has_uid = true;
      } else if (key.IsAtom("RFC822.SIZE") && ParseImapNumber(value.text, UINT64_MAX, number)) {
        message.size = number;
        has_size = true;
      } else if (key.IsAtom("INTERNALDATE")) {
        has_date = ParseInternalDate(value.text, message.internal_date);
      } else if (key.IsAtom("FLAGS") && value.kind == ImapItem::Kind::kList) {
        for (const ImapItem& flag : value.items) message.flags.push_back(flag.text);
      } else if (StartsWithWord(key.text, "BODY[HEADER.FIELDS")) {
        message.message_id = MessageIdOf(value.text);
      }
    }
    // A FETCH without them is news of a flag change, not an answer to ours.
    if (!has_uid || !has_size) return true;
    if (!has_date) return ProtocolFailure("The server sent an unreadable INTERNALDATE", failure);
    // Past the bound, or once the taker said no, the rest of the answer is read and dropped:
    // the session itself stays sound.
    if (!refusal.text.empty()) return true;
    if (++taken > limits_.max_messages) {
      refusal = {ImapErrorKind::kRefused,
                 u"the server holds more than " +
                     DecimalText(static_cast<long long>(limits_.max_messages)) +
                     u" messages there, more than this program can compare"};
      return true;
    }
    if (!take_stored(message, refusal) && refusal.text.empty()) {
      refusal = {ImapErrorKind::kRefused, u"the mailbox's contents could not be taken"};
    }
    return true;
  };
  if (!RunOk(
          ImapCommand("UID FETCH 1:*")
              .Add("(UID RFC822.SIZE INTERNALDATE FLAGS BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])"),
          take, error)) {
    return false;
  }
  if (refusal.text.empty()) return true;
  error = refusal;
  return false;
}

bool ImapSession::FetchMessage(uint32_t uid, std::string& bytes, ImapError& error) {
  if (!Require(ImapState::kSelected, error)) return false;
  bool found = false;
  const DataSink take = [&](const ImapResponse& r, ImapError&) {
    if (r.name != "FETCH" || r.items.empty() || r.items[0].kind != ImapItem::Kind::kList)
      return true;
    const std::vector<ImapItem>& pairs = r.items[0].items;
    bool this_uid = false;
    const std::string* body = nullptr;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
      if (pairs[i].IsAtom("UID")) this_uid = pairs[i + 1].text == std::to_string(uid);
      if (pairs[i].IsAtom("BODY[]")) body = &pairs[i + 1].text;
    }
    if (this_uid && body != nullptr) {
      bytes = *body;
      found = true;
    }
    return true;
  };
  if (!RunOk(ImapCommand("UID FETCH").Add(std::to_string(uid)).Add("(UID BODY.PEEK[])"), take,
             error)) {
    return false;
  }
  if (!found) {
    error = {ImapErrorKind::kRefused, u"The server has no message with UID " + DecimalText(uid)};
    return false;
  }
  return true;
}

// ---- Appending ----

bool ImapSession::Append(const AppendRequest& request, ImapError& error) {
  return AppendBatch({request}, error);
}

bool ImapSession::AppendBatch(const std::vector<AppendRequest>& requests, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  if (requests.empty()) return true;
  if (requests.size() > 1 && !HasCapability("MULTIAPPEND")) {
    error = {ImapErrorKind::kUsage, u"The server does not take several messages in one APPEND"};
    return false;
  }
  size_t bytes = 0;
  for (const AppendRequest& request : requests) bytes += request.message.size();
  while (appends_in_flight_ > 0 &&
         (appends_in_flight_ + requests.size() > limits_.max_appends_in_flight ||
          bytes_in_flight_ + bytes > limits_.max_bytes_in_flight)) {
    if (!ReadOne(error)) return false;
  }
  ImapCommand command("APPEND");
  command.AddString(EncodeName(requests.front().mailbox), utf8_names_);
  std::vector<uint64_t> ids;
  for (const AppendRequest& request : requests) {
    std::string flags = "(";
    for (const std::string& flag : request.flags) {
      if (!IsFlag(flag)) {
        error = {ImapErrorKind::kUsage, u"Not a message flag: " + Utf8ToUtf16(flag)};
        return false;
      }
      if (flags.size() > 1) flags += ' ';
      flags += flag;
    }
    flags += ')';
    command.Add(flags);
    if (request.has_internal_date) command.Add(Quoted(InternalDateText(request.internal_date)));
    command.AddLiteral(request.message);
    ids.push_back(request.id);
  }
  Pending* pending = nullptr;
  return Send(command, pending, error, std::move(ids));
}

bool ImapSession::FinishAppends(ImapError& error) {
  while (appends_in_flight_ > 0) {
    if (!ReadOne(error)) return false;
  }
  DeliverAppends();
  return true;
}

void ImapSession::DeliverAppends() {
  while (!pending_.empty() && pending_.front().append && pending_.front().done &&
         !pending_.front().sending) {
    const Pending finished = std::move(pending_.front());
    pending_.pop_front();
    Report(finished, AppendResult::Outcome::kStored, {});
  }
}

// One result per message of the command: its answer's, or unconfirmed with `lost_text` when
// `outcome` says so.
void ImapSession::Report(const Pending& finished, AppendResult::Outcome outcome,
                         const std::u16string& lost_text) {
  AppendResult result;
  if (outcome == AppendResult::Outcome::kUnconfirmed) {
    result.outcome = outcome;
    result.server_text = lost_text;
  } else {
    result.server_text = Utf8ToUtf16(finished.answer.text);
    result.outcome = finished.answer.status == "OK"   ? AppendResult::Outcome::kStored
                     : finished.answer.status == "NO" ? AppendResult::Outcome::kRefused
                                                      : AppendResult::Outcome::kRejected;
  }
  std::vector<uint32_t> uids;
  uint32_t validity = 0;
  const bool numbered = outcome != AppendResult::Outcome::kUnconfirmed &&
                        result.outcome == AppendResult::Outcome::kStored &&
                        ParseAppendUid(finished.answer.code, finished.append_ids.size(), validity,
                                       uids);
  for (size_t i = 0; i < finished.append_ids.size(); ++i) {
    result.id = finished.append_ids[i];
    result.uid_validity = numbered ? validity : 0;
    result.uid = numbered ? uids[i] : 0;
    if (append_done_) append_done_(result);
  }
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
