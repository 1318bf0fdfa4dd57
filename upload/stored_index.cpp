#include "upload/stored_index.h"

#include <algorithm>

namespace mailsheaf {
namespace {

// Folding may differ between what was read and what the server sends back.
std::string WithoutBlanks(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') out += c;
  }
  return out;
}

}  // namespace

std::string StoredIndex::Key(const std::string& message_id, int64_t internal_date) {
  const std::string id = WithoutBlanks(message_id);
  return id.empty() ? "date " + std::to_string(internal_date) : "id " + id;
}

void StoredIndex::Reset(const std::vector<StoredMessage>& messages) {
  entries_.clear();
  for (const StoredMessage& m : messages) {
    entries_[Key(m.message_id, m.internal_date)].push_back({m.size, m.internal_date});
  }
}

bool StoredIndex::Take(const std::string& message_id, int64_t internal_date,
                       uint64_t imap_size, int64_t now) {
  // A day's room for clocks that disagree.
  const bool date_kept = internal_date <= now + 86400;
  const auto found = entries_.find(Key(message_id, internal_date));
  if (found == entries_.end()) return false;
  std::vector<Entry>& candidates = found->second;
  const auto match = std::find_if(candidates.begin(), candidates.end(), [&](const Entry& e) {
    return e.size == imap_size && (!date_kept || e.internal_date == internal_date);
  });
  if (match == candidates.end()) return false;
  candidates.erase(match);
  return true;
}

}  // namespace mailsheaf
