#pragma once
// Where each source folder goes in the account. The top-level Inbox, Sent, Drafts, Junk and
// Trash (in any case) go into the account's own: found by their SPECIAL-USE attribute (RFC
// 6154) where the server gives one, else by name. Other folders go below the personal
// namespace's prefix (RFC 2342: "INBOX." on servers that keep every folder below the Inbox),
// their levels joined with the server's delimiter; a level holding the delimiter has it
// replaced, and says so. A mailbox that exists under the same name in another case, over the
// whole of Unicode, is taken as it is, since Zimbra takes such names as one folder.

#include <string>
#include <string_view>
#include <vector>

#include "upload/imap_session.h"

namespace mailsheaf {

class FolderPlan {
 public:
  void Learn(const std::vector<MailboxEntry>& mailboxes, const PersonalNamespace& personal);
  char16_t Delimiter() const { return delimiter_; }

  struct Target {
    std::u16string mailbox;               // the server's name for it
    std::vector<std::u16string> missing;  // to create first, parents first, itself last
    std::vector<std::u16string> notes;    // names changed on the way, in words for the report
  };
  // `stored`: "/"-separated levels; empty means the Inbox.
  Target Plan(std::u16string_view stored) const;
  void NoteCreated(const std::u16string& mailbox);
  // The mailbox of that name, the same or in another case; null when there is none.
  const MailboxEntry* Find(std::u16string_view name) const;

 private:
  std::u16string SystemFolder(std::u16string_view top) const;

  std::vector<MailboxEntry> mailboxes_;
  std::u16string prefix_;
  char16_t delimiter_ = u'/';
};

}  // namespace mailsheaf
