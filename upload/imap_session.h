#pragma once
// One IMAP4rev1 client session over a Transport (see imap_session.cpp for its states, its
// pipelining and its bounds). Single-threaded: every call blocks until its answer is in.
// Mailbox names are the program's text; the session puts them in modified UTF-7, or in UTF-8
// once the server has accepted UTF8=ACCEPT.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "upload/imap_command.h"
#include "upload/imap_response.h"
#include "upload/imap_response_reader.h"
#include "upload/transport.h"

namespace mailsheaf {

enum class ImapSecurity {
  kTls,       // imaps://: TLS from the first byte
  kStartTls,  // imap:// then STARTTLS, refused when the server does not offer it
  kPlain,     // no TLS at all: only when the user asked for it by name
};

struct ImapServer {
  std::string host;
  uint16_t port = 993;
  ImapSecurity security = ImapSecurity::kTls;
  TlsOptions tls;
  int timeout_ms = 60000;  // connecting, and waiting for any one read or write
};

enum class ImapState { kDisconnected, kNotAuthenticated, kAuthenticated, kSelected, kLoggedOut };

enum class ImapErrorKind {
  kNone,
  kConnect,         // no connection, no TLS, a refused certificate, a greeting of BYE
  kConnectionLost,  // the connection dropped or timed out after it was made: reconnect
  kRefused,         // the server answered NO or BAD; its words are the text
  kProtocol,        // the server's answer was unreadable or over a bound
  kUsage,           // a call that the session's state does not allow
  kStopped,         // the cancel check said so while the session waited
};

struct ImapError {
  ImapErrorKind kind = ImapErrorKind::kNone;
  std::u16string text;
};

struct ImapLimits {
  ResponseLimits responses;
  size_t max_appends_in_flight = 16;
  size_t max_bytes_in_flight = 16u * 1024 * 1024;  // literal bytes sent and not yet answered
  size_t max_mailboxes = 100000;                   // entries LIST may return
  size_t max_messages = 2000000;                   // messages one mailbox's FETCH may return
  bool use_literal_plus = true;  // false waits for "+" even where LITERAL+ is offered
  // The largest literal sent without waiting for the server's "+": a server that refuses a
  // larger one has then read it all for nothing (mbsync uses about 100 KiB).
  size_t max_literal_plus = 100 * 1024;
};

struct MailboxEntry {
  std::u16string name;                  // decoded, with the server's delimiter between the levels
  std::string wire_name;                // as the server sent it
  char16_t delimiter = 0;               // 0 for a flat namespace (NIL)
  std::vector<std::string> attributes;  // as sent: "\\Noselect", "\\Sent", "\\HasChildren"
  bool HasAttribute(std::string_view attribute) const;  // in any case
  bool Selectable() const;                              // neither \Noselect nor \NonExistent
  // The SPECIAL-USE attribute (RFC 6154): "\\Sent", "\\Drafts", "\\Junk", "\\Trash",
  // "\\Archive", "\\All", "\\Flagged"; empty for none.
  std::string SpecialUse() const;
};

struct MailboxStatus {
  uint32_t exists = 0;
  uint32_t uid_validity = 0;
  uint32_t uid_next = 0;
  bool read_only = false;
};

// What the server holds of one message, for the resume check.
struct StoredMessage {
  uint32_t uid = 0;
  uint64_t size = 0;          // RFC822.SIZE: the message with CRLF line ends
  int64_t internal_date = 0;  // seconds since 1970 UTC
  std::string message_id;     // the Message-ID field's value, unfolded and trimmed; may be empty
  std::vector<std::string> flags;  // as sent: "\\Seen", "\\Answered", keywords
};

// The personal namespace (RFC 2342): where the account's own folders go ("INBOX." on servers
// that put every folder below the Inbox) and the delimiter between their levels.
struct PersonalNamespace {
  std::u16string prefix;
  char16_t delimiter = 0;  // 0 when the server gave none
};

// The storage quota of a mailbox's quota root (RFC 9208), in bytes.
struct StorageQuota {
  bool known = false;
  uint64_t used = 0;
  uint64_t limit = 0;
};

struct AppendRequest {
  uint64_t id = 0;  // the caller's, given back in the result
  std::u16string mailbox;
  std::vector<std::string> flags;  // "\\Seen", ...
  bool has_internal_date = false;
  int64_t internal_date = 0;  // seconds since 1970 UTC
  std::string_view message;   // must stay valid until Append returns
};

struct AppendResult {
  enum class Outcome {
    kStored,       // OK
    kRefused,      // NO: this message only, the session goes on
    kRejected,     // BAD
    kUnconfirmed,  // the connection dropped first: the message may or may not be stored
  };
  uint64_t id = 0;
  Outcome outcome = Outcome::kStored;
  std::u16string server_text;  // the answer minus the tag: "NO [OVERQUOTA] Quota exceeded"
  uint32_t uid_validity = 0;   // APPENDUID (RFC 4315), 0 when not given
  uint32_t uid = 0;            // this message's own, from the UID set of a batch too
};

class ImapSession {
 public:
  // Called once per Append, in the order of the Append calls, from within Append,
  // FinishAppends or any later call that reads the server's answers.
  using AppendDone = std::function<void(const AppendResult&)>;

  explicit ImapSession(std::unique_ptr<Transport> transport, ImapLimits limits = {});
  // Asked while the session waits on the network (see Transport::SetCancel): when it says true,
  // the call in progress ends with kStopped.
  void SetCancel(std::function<bool()> cancelled);
  ~ImapSession();
  ImapSession(const ImapSession&) = delete;
  ImapSession& operator=(const ImapSession&) = delete;

  // Connects, reads the greeting, learns the capabilities and, for kStartTls, upgrades.
  bool Connect(const ImapServer& server, ImapError& error);
  // AUTHENTICATE PLAIN where offered, else LOGIN. The password goes nowhere but the wire.
  bool Login(std::string_view user, std::string_view password, ImapError& error);
  // ENABLE UTF8=ACCEPT (RFC 6855) when offered: names then go in UTF-8. True also when the
  // server does not offer it (Utf8Names() stays false).
  bool EnableUtf8(ImapError& error);

  bool List(std::vector<MailboxEntry>& mailboxes, ImapError& error);
  // NAMESPACE where offered; an empty prefix and no delimiter where not.
  bool Namespace(PersonalNamespace& personal, ImapError& error);
  // GETQUOTAROOT where QUOTA is offered; `quota.known` false where not, or without a STORAGE
  // limit.
  bool QuotaRoot(std::u16string_view mailbox, StorageQuota& quota, ImapError& error);
  bool Create(std::u16string_view mailbox, ImapError& error);
  // SELECT, or EXAMINE when read_only.
  bool Select(std::u16string_view mailbox, bool read_only, MailboxStatus& status, ImapError& error);
  // Leaves the mailbox EXAMINE opened, so that appends go to a mailbox that is not open
  // read-only (a server may refuse them there): UNSELECT where offered, else CLOSE, which
  // removes nothing from a mailbox opened read-only. Only after Select(read_only).
  bool Unselect(ImapError& error);
  // STATUS (MESSAGES): how many messages a mailbox holds, without selecting it.
  bool Status(std::u16string_view mailbox, uint32_t& messages, ImapError& error);
  // STATUS (MESSAGES UIDNEXT UIDVALIDITY), MESSAGES as `exists`.
  bool Status(std::u16string_view mailbox, MailboxStatus& status, ImapError& error);
  // What the selected mailbox holds, in one UID FETCH, handed to `take` one message at a time
  // (false from it ends the call with its error); at most limits.max_messages of them.
  using TakeStored = std::function<bool(const StoredMessage&, ImapError&)>;
  bool FetchStoredMessages(const TakeStored& take, ImapError& error);
  bool FetchStoredMessages(std::vector<StoredMessage>& messages, ImapError& error);
  // Only the UIDs the selected mailbox holds (UID FETCH 1:* (UID)): what the server answers
  // without reading a message, all a resume needs when the journal knows every message.
  bool FetchUids(const std::function<bool(uint32_t)>& take, ImapError& error);
  // STATUS (MESSAGES) of every mailbox, the commands sent at once and the answers read after:
  // -1 for a mailbox the server gave no count for.
  bool StatusAll(const std::vector<std::u16string>& mailboxes, std::vector<int64_t>& messages,
                 ImapError& error);
  // One message's bytes as the server holds them, without marking it read.
  bool FetchMessage(uint32_t uid, std::string& bytes, ImapError& error);

  void SetAppendDone(AppendDone done) { append_done_ = std::move(done); }
  // Sends one APPEND, first waiting for earlier answers while the in-flight bounds are
  // reached. A NO for the message comes through AppendDone, not as a failure here.
  bool Append(const AppendRequest& request, ImapError& error);
  // Several messages into one mailbox in one APPEND (MULTIAPPEND, RFC 3502): the server takes
  // all of them or none, so each gets the same outcome and words. Only where HasCapability
  // ("MULTIAPPEND"); the requests' mailbox is the first one's.
  bool AppendBatch(const std::vector<AppendRequest>& requests, ImapError& error);
  // Waits for the answers to every APPEND sent.
  bool FinishAppends(ImapError& error);

  bool Logout(ImapError& error);
  // Drops the connection without a word; appends in flight are reported unconfirmed.
  void Disconnect();

  ImapState State() const { return state_; }
  bool HasCapability(std::string_view name) const;  // in any case: "LITERAL+", "AUTH=PLAIN"
  bool Utf8Names() const { return utf8_names_; }
  size_t AppendsInFlight() const { return appends_in_flight_; }
  // What the last Connect's TLS met, so that a certificate refused can be shown to a person.
  PeerCertificate LastPeerCertificate() const { return transport_->LastPeerCertificate(); }

 private:
  struct Pending {
    std::string tag;
    bool append = false;
    std::vector<uint64_t> append_ids;
    size_t bytes = 0;
    bool sending = false;  // its bytes are still going out: not to be delivered yet
    bool done = false;
    ImapResponse answer;
  };
  using DataSink = std::function<bool(const ImapResponse&, ImapError&)>;

  bool Require(ImapState lowest, ImapError& error) const;
  std::string EncodeName(std::u16string_view name) const;
  std::u16string DecodeName(const std::string& wire) const;

  bool Send(const ImapCommand& command, Pending*& pending, ImapError& error,
            std::vector<uint64_t> append_ids = {});
  void Report(const Pending& finished, AppendResult::Outcome unconfirmed_or_answered,
              const std::u16string& lost_text);
  bool Run(const ImapCommand& command, const DataSink& sink, ImapResponse& answer,
           ImapError& error);
  bool RunOk(const ImapCommand& command, const DataSink& sink, ImapError& error);
  bool AwaitContinuation(const Pending& pending, ImapError& error);
  bool ReadOne(ImapError& error);
  bool HandleUntagged(const ImapResponse& response, ImapError& error);
  void DeliverAppends();
  bool WriteBytes(std::string_view bytes, ImapError& error);
  bool Lost(ImapErrorKind kind, std::u16string text, ImapError& error);
  bool Cancelled() const { return cancelled_ && cancelled_(); }
  bool RefreshCapabilities(ImapError& error);
  void TakeCapabilities(const std::vector<ImapItem>& items);
  void TakeCapabilityCode(const std::string& code);

  std::unique_ptr<Transport> transport_;
  ImapLimits limits_;
  ImapResponseReader reader_;
  ImapState state_ = ImapState::kDisconnected;
  std::vector<std::string> capabilities_;
  bool utf8_names_ = false;
  uint64_t next_tag_ = 1;
  std::deque<Pending> pending_;
  size_t appends_in_flight_ = 0;  // messages, not commands
  size_t bytes_in_flight_ = 0;
  uint32_t selected_exists_ = 0;
  bool continuation_ = false;
  std::string bye_text_;
  const DataSink* sink_ = nullptr;
  MailboxStatus* selecting_ = nullptr;
  AppendDone append_done_;
  std::function<bool()> cancelled_;
  bool selected_read_only_ = false;
};

}  // namespace mailsheaf
