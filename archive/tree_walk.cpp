#include "archive/tree_walk.h"

#include <algorithm>

#include "archive/message_name.h"

namespace mailsheaf {
namespace {

struct Entry {
  std::u16string name;
  std::string stored;
  uint64_t size = 0;
  int64_t mtime = 0;
  bool is_link = false;
};

bool StoredOrder(const Entry& a, const Entry& b) {
  return a.stored != b.stored ? a.stored < b.stored : a.name < b.name;
}

struct Frame {
  std::u16string path;   // ends with the separator
  std::string relative;  // as stored: empty for the root, else ends with "/"
  std::vector<Entry> folders;
  size_t next = 0;
  bool known = false;
  FileIdentity id;
};

class Walker {
 public:
  Walker(ArchiveFileSystem& fs, const WalkExclusion& exclusion, TreeVisitor& visitor)
      : fs_(fs), separator_(fs.Separator()), exclusion_(exclusion), visitor_(visitor) {}

  bool Walk(const std::u16string& root) {
    std::vector<Frame> stack;
    Frame top;
    top.path = root;
    std::u16string ignored;
    top.known = fs_.FolderIdentity(top.path, top.id, ignored);
    if (!Enter(top)) return false;
    stack.push_back(std::move(top));
    while (!stack.empty()) {
      Frame& parent = stack.back();
      if (parent.next == parent.folders.size()) {
        stack.pop_back();
        continue;
      }
      const Entry sub = parent.folders[parent.next++];
      Frame child;
      child.path = parent.path + sub.name + separator_;
      child.relative = parent.relative + sub.stored + "/";
      child.known = fs_.FolderIdentity(child.path, child.id, ignored);
      if (sub.is_link) {
        if (!child.known) continue;  // a link that leads nowhere holds no messages
        const bool back_into_walk = std::any_of(stack.begin(), stack.end(), [&](const Frame& f) {
          return f.known && f.id == child.id;
        });
        if (back_into_walk) {
          if (!visitor_.OnFolder(child.relative, sub.mtime)) return false;
          continue;
        }
      }
      if (!visitor_.OnFolder(child.relative, sub.mtime)) return false;
      if (!Enter(child)) return false;
      stack.push_back(std::move(child));
    }
    return true;
  }

 private:
  bool Excluded(const Frame& frame, const std::u16string& name) const {
    if (!exclusion_.folder_known || !frame.known || !(frame.id == exclusion_.folder)) {
      return false;
    }
    return std::any_of(exclusion_.names.begin(), exclusion_.names.end(),
                       [&](const std::u16string& skipped) { return fs_.SameName(name, skipped); });
  }

  // Lists a folder and visits its messages; keeps its sub-folders in the frame for the walk.
  bool Enter(Frame& frame) {
    if (visitor_.Stopped()) return false;
    std::vector<FolderEntry> listing;
    std::u16string error;
    if (!fs_.ListFolder(frame.path, listing, error)) {
      visitor_.OnProblem(u"Cannot list the folder " + frame.path + u": " + error);
      return false;
    }
    std::vector<Entry> messages;
    for (FolderEntry& item : listing) {
      if (Excluded(frame, item.name)) continue;
      const bool message = !item.is_folder && IsMessageName(item.name);
      if (!message && !item.is_folder) continue;
      // Resource forks from macOS archives: the importer skips this top-level folder.
      if (item.is_folder && frame.relative.empty() && item.name == u"__MACOSX") continue;
      if (!item.name_ok) {
        visitor_.OnProblem(u"The name of " + frame.path + item.name +
                           u" is not valid UTF-8, so the archive cannot store it.");
        return false;
      }
      Entry entry{std::move(item.name), {}, item.size, item.mtime, item.is_link};
      entry.stored = StoredName(entry.name, message);
      (message ? messages : frame.folders).push_back(std::move(entry));
    }
    std::sort(messages.begin(), messages.end(), StoredOrder);
    std::sort(frame.folders.begin(), frame.folders.end(), StoredOrder);
    for (const Entry& message : messages) {
      if (!visitor_.OnMessage(frame.path + message.name, frame.relative + message.stored,
                              message.size)) {
        return false;
      }
    }
    return true;
  }

  ArchiveFileSystem& fs_;
  const char16_t separator_;
  const WalkExclusion& exclusion_;
  TreeVisitor& visitor_;
};

}  // namespace

bool WalkTree(ArchiveFileSystem& fs, const std::u16string& root, const WalkExclusion& exclusion,
              TreeVisitor& visitor) {
  return Walker(fs, exclusion, visitor).Walk(root);
}

}  // namespace mailsheaf
