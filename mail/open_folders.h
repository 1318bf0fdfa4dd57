#pragma once
// The folders from the root to the one the walk is in, and which of them are stored yet (their
// entry written, their rename told). A folder stored only with the first message below it
// leaves nothing when it holds none: Zimbra makes no folder of an entry without messages, and a
// rename ("Contacts" -> "Contacts (mail)") of a folder that holds no mail is no news.

#include <functional>
#include <vector>

#include "mail/tree_walk.h"

namespace mailsheaf {

class OpenFolders {
 public:
  // The walk entered `folder`: folders it is not below are closed.
  void Enter(const WalkFolder& folder) {
    while (!open_.empty() && !folder.stored.starts_with(open_.back().folder.stored)) {
      open_.pop_back();
    }
    open_.push_back({folder, false});
  }
  // An open folder not stored yet has a rename: folders below it wait for a message too.
  bool RenameWaits() const {
    for (const Open& open : open_) {
      if (!open.stored && !open.folder.renamed.empty()) return true;
    }
    return false;
  }
  // Each open folder not stored yet, outermost first (a message is stored in the innermost).
  bool StoreEach(const std::function<bool(const WalkFolder&)>& store) {
    for (Open& open : open_) {
      if (open.stored) continue;
      open.stored = true;
      if (!store(open.folder)) return false;
    }
    return true;
  }

 private:
  struct Open {
    WalkFolder folder;
    bool stored = false;
  };
  std::vector<Open> open_;
};

}  // namespace mailsheaf
