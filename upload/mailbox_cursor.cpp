#include "upload/mailbox_cursor.h"

#include "upload/digest.h"

namespace mailsheaf {

void MailboxCursor::Begin(const std::u16string& mailbox, const MailboxStatus& status,
                          bool content) {
  content_ = content;
  mailbox_ = mailbox;
  mailbox_key_ = DigestOf(mailbox);
  uid_validity_ = status.uid_validity;
  uid_next_ = status.uid_next != 0 ? status.uid_next : 1;
  index_.Clear();
  present_.clear();
}

void MailboxCursor::Seal() {
  index_.Seal();
  // Those with a UID first: a match by content must not take a message the journal names.
  std::vector<const JournalEntry*> by_content;
  journal_.ForMailbox(mailbox_key_, uid_validity_, [&](const JournalEntry& e) {
    if (e.uid == 0) {
      by_content.push_back(&e);
    } else if (index_.Claim(e.uid)) {
      present_.insert(e.path);
    }
  });
  for (const JournalEntry* e : by_content) {
    uint32_t uid = 0;
    if (index_.ClaimLike(e->content, 1, now_, uid)) present_.insert(e->path);
  }
}

bool MailboxCursor::KnownUnchanged(uint64_t path_key, const SourceFile& file) const {
  if (!present_.contains(path_key)) return false;
  const JournalEntry* e = journal_.Find(mailbox_key_, path_key);
  return e != nullptr && e->file_size == file.size && e->file_time == file.time;
}

MailboxCursor::Found MailboxCursor::Lookup(uint64_t path_key, uint64_t digest,
                                           const ContentKey& key, uint32_t lowest_uid,
                                           uint32_t& uid) {
  uid = 0;
  if (present_.contains(path_key)) {
    const JournalEntry* e = journal_.Find(mailbox_key_, path_key);
    if (e != nullptr && e->digest == digest) return Found::kByJournal;
  }
  if (!content_) return Found::kNeedContent;
  return index_.ClaimLike(key, lowest_uid, now_, uid) ? Found::kByContent : Found::kNo;
}

}  // namespace mailsheaf
