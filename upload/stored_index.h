#pragma once
// What a mailbox already holds, for the resume check: a message is there when the server has
// one with the same Message-ID (or, without one, the same internal date) whose size and
// internal date are what this message would get. Each stored message answers for one message
// only, so two identical files still give two messages. A server may store a date in the future
// as the time it received the message (Dovecot does): such a date is not compared, and a
// message with one and no Message-ID cannot be found again.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "upload/imap_session.h"

namespace mailsheaf {

class StoredIndex {
 public:
  void Reset(const std::vector<StoredMessage>& messages);
  // Takes the stored message that matches, if any. `now` is the time of the run.
  bool Take(const std::string& message_id, int64_t internal_date, uint64_t imap_size,
            int64_t now);

 private:
  struct Entry {
    uint64_t size;
    int64_t internal_date;
  };
  static std::string Key(const std::string& message_id, int64_t internal_date);
  std::map<std::string, std::vector<Entry>> entries_;
};

}  // namespace mailsheaf
