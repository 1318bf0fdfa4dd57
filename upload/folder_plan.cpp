#include "upload/folder_plan.h"

#include "base/ascii.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

bool SameAsciiName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

struct SystemName {
  const char16_t* name;
  const char* special_use;
};
constexpr SystemName kSystemFolders[] = {
    {u"Inbox", nullptr}, {u"Sent", "\\Sent"}, {u"Drafts", "\\Drafts"},
    {u"Junk", "\\Junk"}, {u"Trash", "\\Trash"},
};

}  // namespace

void FolderPlan::Learn(const std::vector<MailboxEntry>& mailboxes) {
  mailboxes_ = mailboxes;
  delimiter_ = u'/';
  // INBOX's delimiter is the one its children use; any other will do when it has none.
  for (const MailboxEntry& m : mailboxes_) {
    if (m.delimiter != 0 && (delimiter_ == u'/' || SameAsciiName(m.name, u"INBOX"))) {
      delimiter_ = m.delimiter;
    }
  }
}

const MailboxEntry* FolderPlan::Find(std::u16string_view name) const {
  const MailboxEntry* other_case = nullptr;
  for (const MailboxEntry& m : mailboxes_) {
    if (m.name == name) return &m;
    if (other_case == nullptr && SameAsciiName(m.name, name)) other_case = &m;
  }
  return other_case;
}

std::u16string FolderPlan::SystemFolder(std::u16string_view top) const {
  for (const SystemName& system : kSystemFolders) {
    if (!SameAsciiName(top, system.name)) continue;
    if (system.special_use == nullptr) {
      const MailboxEntry* inbox = Find(u"INBOX");
      return inbox != nullptr ? inbox->name : u"INBOX";
    }
    for (const MailboxEntry& m : mailboxes_) {
      if (m.HasAttribute(system.special_use)) return m.name;
    }
    const MailboxEntry* named = Find(system.name);
    return named != nullptr ? named->name : std::u16string(system.name);
  }
  return {};
}

FolderPlan::Target FolderPlan::Plan(std::u16string_view stored) const {
  std::vector<std::u16string> levels;
  size_t at = 0;
  while (at <= stored.size() && !stored.empty()) {
    const size_t slash = std::min(stored.find(u'/', at), stored.size());
    std::u16string level(stored.substr(at, slash - at));
    // A level cannot hold the server's delimiter: it would make two levels.
    if (delimiter_ != u'/') {
      for (char16_t& c : level) {
        if (c == delimiter_) c = u'_';
      }
    }
    levels.push_back(std::move(level));
    at = slash + 1;
  }
  Target target;
  if (levels.empty()) {
    target.mailbox = SystemFolder(u"Inbox");
    return target;
  }
  std::u16string path = SystemFolder(levels[0]);
  if (path.empty()) path = levels[0];
  for (size_t i = 0;; ++i) {
    const MailboxEntry* existing = Find(path);
    if (existing != nullptr) {
      path = existing->name;
    } else if (!SameAsciiName(path, u"INBOX")) {
      target.missing.push_back(path);
    }
    if (i + 1 >= levels.size()) break;
    path += delimiter_;
    path += levels[i + 1];
  }
  target.mailbox = path;
  return target;
}

void FolderPlan::NoteCreated(const std::u16string& mailbox) {
  MailboxEntry entry;
  entry.name = mailbox;
  entry.delimiter = delimiter_;
  mailboxes_.push_back(std::move(entry));
}

}  // namespace mailsheaf
