#pragma once
// What a mailbox holds, for the resume check, and which of its messages already answer for a
// source message ("claimed"). A message the journal knows is found by its UID; any other is
// matched by content, and then only against an unclaimed stored message: each stored message
// answers for one source message at most, so two look-alike files never answer for each other.
//
// By content, a message is there when the server holds one with the same Message-ID (or,
// without one, the same internal date) whose size is the size sent, or that size less the
// header fields that mbox storage keeps to itself (Status:, X-Status:...), and whose internal
// date is the one sent. A date the run had to make up, or one in the future (a server may store
// the time it got such a message instead), is not compared; without a Message-ID either, such a
// message is never taken for another.
//
// Memory: about 36 bytes a stored message, at most ImapLimits::max_messages of them.

#include <cstdint>
#include <string_view>
#include <vector>

#include "upload/imap_session.h"

namespace mailsheaf {

// What the resume check compares of a message when the journal does not know it.
struct ContentKey {
  uint64_t id = 0;           // MessageIdKey of its Message-ID; 0 when it has none
  int64_t date = 0;          // the internal date sent
  bool date_compared = true;
  uint64_t size = 0;         // RFC822.SIZE as sent
  uint64_t bare_size = 0;    // without the fields mbox storage hides (SizeWithoutMboxFields)
};

// Folding may differ between what was read and what the server sends back: blanks do not count.
// 0 for an empty Message-ID.
uint64_t MessageIdKey(std::string_view message_id);

class StoredIndex {
 public:
  void Clear();
  void Add(const StoredMessage& message);
  // A message known by its UID only: held, never like anything.
  void AddUid(uint32_t uid);
  // After the last Add: ready for the questions below.
  void Seal();
  size_t Size() const { return entries_.size(); }

  bool Holds(uint32_t uid) const { return Find(uid) != nullptr; }
  // The journal knows this UID for a source message: nobody else may take it. False when the
  // mailbox does not hold it (any more) or it is claimed already.
  bool Claim(uint32_t uid);
  // Claims an unclaimed message like `key` with a UID at or above `lowest_uid`; its UID in
  // `uid`. `now` tells a date in the future.
  bool ClaimLike(const ContentKey& key, uint32_t lowest_uid, int64_t now, uint32_t& uid);

 private:
  struct Entry {
    uint64_t key;  // the Message-ID's key, or else one made of the date
    uint64_t size;
    int64_t date;
    uint32_t uid;
    bool no_id;
    bool claimed;
    bool content_known;
  };
  static uint64_t KeyOf(uint64_t id, int64_t date);
  Entry* Find(uint32_t uid);
  const Entry* Find(uint32_t uid) const;

  std::vector<Entry> entries_;     // by key, then UID
  std::vector<uint32_t> by_uid_;   // positions in entries_, by UID
};

}  // namespace mailsheaf
