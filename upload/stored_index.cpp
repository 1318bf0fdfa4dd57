#include "upload/stored_index.h"

#include <algorithm>

#include "upload/digest.h"

namespace mailsheaf {

uint64_t MessageIdKey(std::string_view message_id) {
  Digest64 digest;
  bool any = false;
  for (char c : message_id) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    digest.Put(reinterpret_cast<const unsigned char*>(&c), 1);
    any = true;
  }
  const uint64_t key = digest.Value();
  return !any ? 0 : key != 0 ? key : 1;
}

uint64_t StoredIndex::KeyOf(uint64_t id, int64_t date) {
  if (id != 0) return id;
  const std::string_view bytes(reinterpret_cast<const char*>(&date), sizeof date);
  return DigestOf(bytes) ^ 0x5bd1e995u;  // apart from any Message-ID's key
}

void StoredIndex::Clear() {
  entries_.clear();
  entries_.shrink_to_fit();
  by_uid_.clear();
  by_uid_.shrink_to_fit();
}

void StoredIndex::Add(const StoredMessage& message) {
  const uint64_t id = MessageIdKey(message.message_id);
  entries_.push_back({KeyOf(id, message.internal_date), message.size, message.internal_date,
                      message.uid, id == 0, false, true});
}

void StoredIndex::AddUid(uint32_t uid) { entries_.push_back({0, 0, 0, uid, true, false, false}); }

void StoredIndex::Seal() {
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
    return a.key != b.key ? a.key < b.key : a.uid < b.uid;
  });
  by_uid_.resize(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) by_uid_[i] = static_cast<uint32_t>(i);
  std::sort(by_uid_.begin(), by_uid_.end(),
            [this](uint32_t a, uint32_t b) { return entries_[a].uid < entries_[b].uid; });
}

const StoredIndex::Entry* StoredIndex::Find(uint32_t uid) const {
  const auto at = std::lower_bound(by_uid_.begin(), by_uid_.end(), uid,
                                   [this](uint32_t i, uint32_t u) { return entries_[i].uid < u; });
  return at != by_uid_.end() && entries_[*at].uid == uid ? &entries_[*at] : nullptr;
}

StoredIndex::Entry* StoredIndex::Find(uint32_t uid) {
  return const_cast<Entry*>(static_cast<const StoredIndex*>(this)->Find(uid));
}

bool StoredIndex::Claim(uint32_t uid) {
  Entry* entry = Find(uid);
  if (entry == nullptr || entry->claimed) return false;
  entry->claimed = true;
  return true;
}

bool StoredIndex::ClaimLike(const ContentKey& key, uint32_t lowest_uid, int64_t now,
                            uint32_t& uid) {
  // A day's room for clocks that disagree.
  const bool date_compared = key.date_compared && key.date <= now + 86400;
  if (key.id == 0 && !date_compared) return false;
  const uint64_t wanted = KeyOf(key.id, key.date);
  auto at = std::lower_bound(entries_.begin(), entries_.end(), wanted,
                             [](const Entry& e, uint64_t k) { return e.key < k; });
  for (; at != entries_.end() && at->key == wanted; ++at) {
    if (at->claimed || !at->content_known || at->uid < lowest_uid || at->no_id != (key.id == 0)) {
      continue;
    }
    if (at->size != key.size && at->size != key.bare_size) continue;
    if (date_compared && at->date != key.date) continue;
    at->claimed = true;
    uid = at->uid;
    return true;
  }
  return false;
}

}  // namespace mailsheaf
