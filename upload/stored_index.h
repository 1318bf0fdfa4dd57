#pragma once
// What a mailbox already holds, for the resume check: a message is there when the server has
// one with the same Message-ID (or, without one, the same internal date) whose size and
// internal date are what this message would get. Each stored message answers for one message
// only, so two identical files still give two messages.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "upload/imap_session.h"

namespace mailsheaf {

class StoredIndex {
 public:
  void Reset(const std::vector<StoredMessage>& messages);
  // Whether a message could be there: a cheap look before its size in IMAP's form is known.
  bool MayHold(const std::string& message_id, int64_t internal_date) const;
  // Takes the stored message that matches, if any.
  bool Take(const std::string& message_id, int64_t internal_date, uint64_t imap_size);

 private:
  struct Entry {
    uint64_t size;
    int64_t internal_date;
  };
  static std::string Key(const std::string& message_id, int64_t internal_date);
  std::map<std::string, std::vector<Entry>> entries_;
};

}  // namespace mailsheaf
