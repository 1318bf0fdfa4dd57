#pragma once
// Where each source folder goes in the account. The top-level Inbox, Sent, Drafts, Junk and
// Trash (in any case) go into the account's own: found by their SPECIAL-USE attribute (RFC
// 6154) where the server gives one, else by name. Other levels keep their names, joined with
// the server's hierarchy delimiter; a mailbox that exists in another case is taken as it is,
// since Zimbra ignores case in folder names.

#include <string>
#include <string_view>
#include <vector>

#include "upload/imap_session.h"

namespace mailsheaf {

class FolderPlan {
 public:
  void Learn(const std::vector<MailboxEntry>& mailboxes);
  char16_t Delimiter() const { return delimiter_; }

  struct Target {
    std::u16string mailbox;               // the server's name for it
    std::vector<std::u16string> missing;  // to create first, parents first, itself last
  };
  // `stored`: "/"-separated levels; empty means the Inbox.
  Target Plan(std::u16string_view stored) const;
  void NoteCreated(const std::u16string& mailbox);

 private:
  const MailboxEntry* Find(std::u16string_view name) const;
  std::u16string SystemFolder(std::u16string_view top) const;

  std::vector<MailboxEntry> mailboxes_;
  char16_t delimiter_ = u'/';
};

}  // namespace mailsheaf
