#include "mail/tree_walk.h"

#include <algorithm>
#include <set>

#include "mail/folder_names.h"
#include "mail/stored_name.h"
#include "base/message_name.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

struct Entry {
  std::u16string name;
  std::string stored;
  std::u16string renamed;  // why `stored` differs from the name
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
  bool never_mail = false;  // a folder that never holds mail: nothing of it is stored
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
  Walker(FileSystem& fs, const WalkExclusion& exclusion, TreeVisitor& visitor)
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
      child.never_mail = parent.never_mail || IsNeverMailFolder(sub.name, parent.source.empty());
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
          if (!child.never_mail && !visitor_.OnFolder(Visit(child, sub))) return false;
          continue;
        }
      }
      if (!child.never_mail && !visitor_.OnFolder(Visit(child, sub))) return false;
      if (!Enter(child)) return false;
      stack.push_back(std::move(child));
    }
    return true;
  }

 private:
  static WalkFolder Visit(const Frame& child, const Entry& sub) {
    return {child.relative, child.source, sub.renamed, sub.mtime};
  }

  // A name that is not UTF-8 is read as Windows-1252, where such names usually come from.
  static std::u16string Readable(const FolderEntry& item, std::u16string& renamed) {
    if (!item.not_utf8) return item.name;
    renamed = u"its name is not UTF-8; it was read as Windows-1252";
    return Windows1252ToUtf16(NameToBytes(item.name));
  }

  // Folder names as the importer takes them; see folder_names.h.
  static std::string FolderNameInArchive(const Frame& frame, const FolderEntry& item,
                                      std::u16string& renamed) {
    const std::u16string name = Readable(item, renamed);
    const FolderPlace place = frame.source.empty() ? FolderPlace::kTop
                              : frame.top_junk     ? FolderPlace::kBelowTopJunk
                                                   : FolderPlace::kDeeper;
    StoredFolderName stored = NameToStore(name, place);
    if (!stored.why.empty()) renamed += (renamed.empty() ? u"" : u"; ") + stored.why;
    return Utf16ToUtf8(stored.name);
  }

  // The names a folder's ".msf" files index: Thunderbird keeps one beside each mbox file.
  static std::set<std::u16string> IndexedNames(const std::vector<FolderEntry>& listing) {
    std::set<std::u16string> indexed;
    for (const FolderEntry& item : listing) {
      const size_t size = item.name.size();
      if (size > 4 && item.name.compare(size - 4, 4, u".msf") == 0) {
        indexed.insert(item.name.substr(0, size - 4));
      }
    }
    return indexed;
  }

  void LeaveOut(const Frame& frame, const FolderEntry& item,
                const std::set<std::u16string>& indexed, bool message) {
    const std::u16string why =
        message ? u"it is in __MACOSX, where a Mac keeps the resource files of a zip, not "
                  u"messages"
                : WhyMailLikeFileIsLeftOut(item.name, indexed.contains(item.name));
    visitor_.OnLeftOut(frame.path + item.name, frame.source, why);
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
    const std::set<std::u16string> indexed = IndexedNames(listing);
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
      const bool named_as_message = !item.is_folder && IsMessageName(item.name);
      const bool message = named_as_message && !frame.never_mail;
      if (destination_here && fs_.SameName(item.name, exclusion_.destination_name)) {
        if (!message) continue;
        visitor_.OnProblem(u"The archive would replace a message it has to store: " + frame.path +
                           item.name);
        return false;
      }
      if (!item.is_folder && !message) {
        LeaveOut(frame, item, indexed, named_as_message);
        continue;
      }
      Entry entry{item.name, {}, {}, item.size, item.mtime, item.is_link};
      if (message) {
        entry.stored = StoredName(Readable(item, entry.renamed), true);
      } else {
        entry.stored = FolderNameInArchive(frame, item, entry.renamed);
      }
      (message ? messages : frame.folders).push_back(std::move(entry));
    }
    std::sort(messages.begin(), messages.end(), StoredOrder);
    std::sort(frame.folders.begin(), frame.folders.end(), StoredOrder);
    for (const Entry& message : messages) {
      if (!visitor_.OnMessage({frame.path + message.name, frame.relative + message.stored,
                               frame.source, message.renamed, message.size, message.mtime})) {
        return false;
      }
    }
    return true;
  }

  FileSystem& fs_;
  const char16_t separator_;
  const WalkExclusion& exclusion_;
  TreeVisitor& visitor_;
};

}  // namespace

bool WalkTree(FileSystem& fs, const std::u16string& root, const WalkExclusion& exclusion,
              TreeVisitor& visitor) {
  return Walker(fs, exclusion, visitor).Walk(root);
}

}  // namespace mailsheaf

namespace mailsheaf {

bool WalkStoresFile(FileSystem& fs, const std::u16string& root, const std::u16string& path) {
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
      return !(first != std::u16string::npos && IsNeverMailFolder(below.substr(0, first), true));
    }
    if (end == 0) return false;
    end = path.rfind(separator, end - 1);
    if (end == std::u16string::npos) return false;
  }
}

}  // namespace mailsheaf
