#include "archive/tree_walk.h"

#include <algorithm>

#include "archive/folder_names.h"
#include "archive/message_name.h"
#include "base/text.h"

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
  std::u16string path;    // ends with the separator
  std::string relative;   // as stored: empty for the root, else ends with "/"
  std::u16string source;  // as the file system names it, "/"-separated; likewise
  bool top_junk = false;  // the top-level Junk folder, whose sub-folders move up
  std::vector<Entry> folders;
  size_t next = 0;
  // Which folder this is, asked of the system only when needed: for a link met below it, or
  // when it lists the destination's name. A tree without links asks once per link, not once
  // per folder (under Wine each asking costs several round trips to its services).
  bool resolved = false;
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
      child.relative = (parent.top_junk ? std::string() : parent.relative) + sub.stored + "/";
      child.source = parent.source + sub.name + u"/";
      child.top_junk = parent.relative.empty() && IsJunkFolder(sub.name);
      if (sub.is_link) {
        std::u16string error;
        const Lookup lookup = fs_.FolderIdentity(child.path, child.id, error);
        child.resolved = true;
        child.known = lookup == Lookup::kFound;
        if (lookup == Lookup::kMissing) continue;  // a link that leads nowhere holds nothing
        if (lookup == Lookup::kFailed) {
          // It may lead to messages (an offline mount, a placeholder not yet fetched).
          visitor_.OnProblem(u"Cannot examine the folder " + child.path + u": " + error);
          return false;
        }
        const bool back_into_walk = std::any_of(stack.begin(), stack.end(), [&](Frame& f) {
          return Resolve(f) && f.id == child.id;
        });
        if (back_into_walk) {
          if (!visitor_.OnFolder(child.relative, child.source, sub.mtime)) return false;
          continue;
        }
      }
      if (!visitor_.OnFolder(child.relative, child.source, sub.mtime)) return false;
      if (!Enter(child)) return false;
      stack.push_back(std::move(child));
    }
    return true;
  }

 private:
  // Folder names as the importer takes them; see folder_names.h.
  static std::u16string StoredFolderName(const Frame& frame, const std::u16string& name) {
    if (frame.relative.empty()) return TopFolderName(name);
    if (frame.top_junk) return JunkSubFolderName(name);
    return AcceptedFolderName(name);
  }

  // True when the folder's identity is known, asking the system the first time.
  bool Resolve(Frame& frame) {
    if (!frame.resolved) {
      std::u16string ignored;
      frame.known = fs_.FolderIdentity(frame.path, frame.id, ignored) == Lookup::kFound;
      frame.resolved = true;
    }
    return frame.known;
  }

  bool InDestinationFolder(Frame& frame) {
    return exclusion_.folder_known && Resolve(frame) && frame.id == exclusion_.folder;
  }

  // Whether the listing holds a name that the archive itself may have in this folder.
  bool ListsDestinationName(const std::vector<FolderEntry>& listing) const {
    return std::any_of(listing.begin(), listing.end(), [&](const FolderEntry& item) {
      return fs_.SameName(item.name, exclusion_.destination_name) ||
             (!exclusion_.temporary_name.empty() &&
              fs_.SameName(item.name, exclusion_.temporary_name));
    });
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
    const bool destination_here = ListsDestinationName(listing) && InDestinationFolder(frame);
    for (FolderEntry& item : listing) {
      if (!item.examine_error.empty()) {
        // Whatever it is, it may be or hold messages: never pass over it in silence.
        visitor_.OnProblem(u"Cannot examine " + frame.path + item.name + u": " +
                           item.examine_error);
        return false;
      }
      if (destination_here && !exclusion_.temporary_name.empty() &&
          fs_.SameName(item.name, exclusion_.temporary_name)) {
        continue;
      }
      const bool message = !item.is_folder && IsMessageName(item.name);
      if (destination_here && fs_.SameName(item.name, exclusion_.destination_name)) {
        if (!message) continue;
        visitor_.OnProblem(u"The archive would replace a message it has to store: " + frame.path +
                           item.name);
        return false;
      }
      if (!message && !item.is_folder) continue;
      // Resource forks from macOS archives: the importer skips this top-level folder.
      if (item.is_folder && frame.relative.empty() && item.name == u"__MACOSX") continue;
      if (!item.name_ok) {
        visitor_.OnProblem(u"The name of " + frame.path + item.name +
                           u" is not valid UTF-8, so the archive cannot store it.");
        return false;
      }
      Entry entry{std::move(item.name), {}, item.size, item.mtime, item.is_link};
      entry.stored = message ? StoredName(entry.name, true)
                             : Utf16ToUtf8(StoredFolderName(frame, entry.name));
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

namespace mailsheaf {

bool WalkStoresFile(ArchiveFileSystem& fs, const std::u16string& root, const std::u16string& path) {
  const char16_t separator = fs.Separator();
  const size_t cut = path.rfind(separator);
  if (cut == std::u16string::npos || !IsMessageName(path.substr(cut + 1))) return false;
  if (!fs.Exists(path) || fs.IsFolder(path)) return false;
  FileIdentity root_id;
  std::u16string error;
  if (fs.FolderIdentity(root, root_id, error) != Lookup::kFound) return false;
  // `below` is the part of the path under the folder being looked at, starting at its name.
  for (size_t end = cut;;) {
    FileIdentity id;
    if (fs.FolderIdentity(path.substr(0, end + 1), id, error) == Lookup::kFound && id == root_id) {
      const std::u16string below = path.substr(end + 1);
      const size_t first = below.find(separator);
      return !(first != std::u16string::npos && below.substr(0, first) == u"__MACOSX");
    }
    if (end == 0) return false;
    end = path.rfind(separator, end - 1);
    if (end == std::u16string::npos) return false;
  }
}

}  // namespace mailsheaf
