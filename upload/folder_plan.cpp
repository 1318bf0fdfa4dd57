#include "upload/folder_plan.h"

#include "base/case_fold.h"
#include "base/report_text.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

bool Alike(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CaseBlindText(a) == CaseBlindText(b);
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

void FolderPlan::Learn(const std::vector<MailboxEntry>& mailboxes,
                       const PersonalNamespace& personal) {
  mailboxes_ = mailboxes;
  prefix_ = personal.prefix;
  delimiter_ = personal.delimiter;
  if (delimiter_ != 0) return;
  // INBOX's delimiter is the one its children use; any other will do when it has none.
  delimiter_ = u'/';
  for (const MailboxEntry& m : mailboxes_) {
    if (m.delimiter != 0 && (delimiter_ == u'/' || Alike(m.name, u"INBOX"))) {
      delimiter_ = m.delimiter;
    }
  }
}

const MailboxEntry* FolderPlan::Find(std::u16string_view name) const {
  const MailboxEntry* other_case = nullptr;
  for (const MailboxEntry& m : mailboxes_) {
    if (m.name == name) return &m;
    if (other_case == nullptr && Alike(m.name, name)) other_case = &m;
  }
  return other_case;
}

std::u16string FolderPlan::SystemFolder(std::u16string_view top) const {
  for (const SystemName& system : kSystemFolders) {
    if (!Alike(top, system.name)) continue;
    if (system.special_use == nullptr) {
      const MailboxEntry* inbox = Find(u"INBOX");
      return inbox != nullptr ? inbox->name : u"INBOX";
    }
    for (const MailboxEntry& m : mailboxes_) {
      if (m.HasAttribute(system.special_use)) return m.name;
    }
    const std::u16string below_prefix = prefix_ + system.name;
    if (const MailboxEntry* named = Find(below_prefix)) return named->name;
    if (const MailboxEntry* named = Find(system.name)) return named->name;
    return below_prefix;
  }
  return {};
}

FolderPlan::Target FolderPlan::Plan(std::u16string_view stored) const {
  Target target;
  std::vector<std::u16string> levels;
  size_t at = 0;
  while (at <= stored.size() && !stored.empty()) {
    const size_t slash = std::min(stored.find(u'/', at), stored.size());
    std::u16string level(stored.substr(at, slash - at));
    // A level cannot hold the server's delimiter: it would make two levels.
    if (delimiter_ != u'/' && level.find(delimiter_) != std::u16string::npos) {
      const std::u16string before = level;
      for (char16_t& c : level) {
        if (c == delimiter_) c = u'_';
      }
      target.notes.push_back(u"the folder " + Shown(before) + u" is named " + Shown(level) +
                             u" here: the server puts " + Shown(std::u16string(1, delimiter_)) +
                             u" between folder levels");
    }
    levels.push_back(std::move(level));
    at = slash + 1;
  }
  if (levels.empty()) {
    target.mailbox = SystemFolder(u"Inbox");
    return target;
  }
  std::u16string path = SystemFolder(levels[0]);
  if (path.empty()) {
    // The prefix's own folder ("INBOX" of "INBOX.") is made first where it is missing.
    if (!prefix_.empty() && prefix_.back() == delimiter_ && prefix_.size() > 1) {
      const std::u16string parent = prefix_.substr(0, prefix_.size() - 1);
      if (Find(parent) == nullptr && !Alike(parent, u"INBOX")) target.missing.push_back(parent);
    }
    path = prefix_ + levels[0];
  }
  std::u16string wanted = path;
  for (size_t i = 0;; ++i) {
    const MailboxEntry* existing = Find(path);
    if (existing != nullptr) {
      path = existing->name;
    } else if (!Alike(path, u"INBOX")) {
      target.missing.push_back(path);
    }
    if (i + 1 >= levels.size()) break;
    path += delimiter_;
    path += levels[i + 1];
    wanted += delimiter_;
    wanted += levels[i + 1];
  }
  if (path != wanted) {
    target.notes.push_back(u"the folder " + Shown(wanted) + u" went into the account's " +
                           Shown(path) + u": the server takes names that differ only in case "
                           u"as one folder");
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
