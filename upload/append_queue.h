#pragma once
// The messages on their way into the current mailbox: staged into the next batch, in flight
// (sent, not yet answered), refused as part of a batch and to go again one by one, or
// unconfirmed when the connection dropped. A full batch goes out without waiting for the
// answer (one APPEND for all of it where the server takes several: MULTIAPPEND, RFC 3502);
// answers arrive in order through the session's AppendDone and settle each message.
//
// Every message leaves the queue through exactly one of Owner::Added, Owner::Refused, or the
// owner taking it back (TakeUnconfirmed, TakeAll) to settle it itself.

#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <vector>

#include "upload/imap_session.h"
#include "upload/stored_index.h"

namespace mailsheaf {

// A message read and made ready, not yet settled.
struct QueuedMessage {
  uint64_t id = 0;
  size_t row = 0;          // the report's mailbox row
  // Its mailbox, as it was when the message was read: an answer may come after the upload has
  // moved on to the next mailbox.
  std::u16string mailbox;
  uint64_t mailbox_key = 0;
  uint32_t uid_validity = 0;
  std::u16string path;     // for the report
  uint64_t path_key = 0;   // the journal's
  uint64_t file_size = 0;  // as listed, for the journal
  int64_t file_time = 0;
  uint64_t digest = 0;     // of `bytes`
  ContentKey content;
  uint32_t lowest_uid = 1;  // the mailbox's UIDNEXT before it was first sent
  bool seen = false;
  int64_t time = 0;
  bool nul_replaced = false;
  uint64_t note = 0;       // the source's, for UploadSource::Settle
  std::string bytes;       // in IMAP's form
  bool together = false;   // sent in an APPEND with others
  bool sent = false;       // it went out at least once
};

class AppendQueue {
 public:
  class Owner {
   public:
    virtual ~Owner() = default;
    virtual void Added(QueuedMessage& message, uint32_t uid_validity, uint32_t uid) = 0;
    virtual void Refused(QueuedMessage& message, const std::u16string& words) = 0;
    // Asked before a message goes out: false when the owner has settled it otherwise (the
    // account is over its quota, the run is stopping) and it is not to be sent.
    virtual bool MaySend(QueuedMessage& message) = 0;
  };

  AppendQueue(ImapSession& session, Owner& owner);

  // Into the next batch (of one mailbox); a full one goes out. False with the session's error
  // when sending failed: the messages not answered are then unconfirmed.
  bool Stage(QueuedMessage message, ImapError& error);
  // The staged batch goes out now, without waiting for its answer.
  bool SendStaged(ImapError& error) { return Flush(error); }
  // Every message sent and answered, refused batches again one by one.
  bool Drain(ImapError& error);
  // One message, by itself (one sent before a drop and not found since).
  bool SendAlone(QueuedMessage message, ImapError& error);

  bool Idle() const { return staged_.empty() && in_flight_.empty() && singles_.empty() && kept_.empty(); }
  // After a drop: the messages whose answer never came, for the owner to look for and send
  // again, or give up.
  std::deque<QueuedMessage> TakeUnconfirmed();
  // Back into the queue's unconfirmed, for a later TakeUnconfirmed.
  void Keep(std::deque<QueuedMessage>& messages);
  // Everything left, for the owner to settle (a stop, a failure).
  std::vector<QueuedMessage> TakeAll();

 private:
  void Settle(const AppendResult& result);
  bool Flush(ImapError& error);
  bool Singles(ImapError& error);
  AppendRequest Request(const QueuedMessage& message) const;

  ImapSession& session_;
  Owner& owner_;
  std::vector<QueuedMessage> staged_;  // the next batch
  size_t staged_bytes_ = 0;
  std::list<QueuedMessage> in_flight_;  // a list: the requests sent point into its records
  std::deque<QueuedMessage> singles_;   // of a batch refused as a whole
  std::deque<QueuedMessage> kept_;      // unconfirmed when the connection dropped
};

}  // namespace mailsheaf
