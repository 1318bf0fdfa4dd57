#pragma once
// The mailbox the upload is putting messages into, and the resume check against it: what it
// holds (StoredIndex), which of that the journal already answers for, and for each source
// message whether it is there already, by the journal or, for a message the journal does not
// know, by content (stored_index.h says how). Opened anew after every EXAMINE of the mailbox,
// so that what this run added, which the journal holds too, is never taken for another.

#include <cstdint>
#include <string>
#include <unordered_set>

#include "upload/imap_session.h"
#include "upload/stored_index.h"
#include "upload/upload_journal.h"
#include "upload/upload_source.h"

namespace mailsheaf {

class MailboxCursor {
 public:
  MailboxCursor(UploadJournal& journal, int64_t now) : journal_(journal), now_(now) {}

  // Before the mailbox's contents are added to Index(): its name, what EXAMINE said, and
  // whether the index will hold what each message is (else only its UID).
  void Begin(const std::u16string& mailbox, const MailboxStatus& status, bool content);
  StoredIndex& Index() { return index_; }
  // After the last message of the index: the journal's messages claim theirs.
  void Seal();

  const std::u16string& Mailbox() const { return mailbox_; }
  uint64_t MailboxKey() const { return mailbox_key_; }
  uint32_t UidValidity() const { return uid_validity_; }
  uint32_t UidNext() const { return uid_next_; }

  // The journal knows the file, with the size and time it has now, and the mailbox still
  // holds what was sent of it: there is no need to read it.
  bool KnownUnchanged(uint64_t path_key, const SourceFile& file) const;

  // kNeedContent: the journal does not know it, and the index holds only UIDs: it needs what
  // each stored message is before it can tell.
  enum class Found { kNo, kByJournal, kByContent, kNeedContent };
  // A message read and made ready: there already? `lowest_uid` bounds a match by content (a
  // message sent before a drop can only be among what came after). `uid` is the stored
  // message's by content, 0 by the journal.
  Found Lookup(uint64_t path_key, uint64_t digest, const ContentKey& key, uint32_t lowest_uid,
               uint32_t& uid);

 private:
  UploadJournal& journal_;
  const int64_t now_;
  std::u16string mailbox_;
  uint64_t mailbox_key_ = 0;
  uint32_t uid_validity_ = 0;
  uint32_t uid_next_ = 1;
  bool content_ = false;
  StoredIndex index_;
  std::unordered_set<uint64_t> present_;  // path keys of journal entries the mailbox holds
};

}  // namespace mailsheaf
