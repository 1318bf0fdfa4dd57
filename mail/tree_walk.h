#pragma once
// The one walk over the source tree. The sizing walk and the writing walk are two visitors of
// it, so they cannot disagree on what the archive holds: which names are messages, which
// folders are left out, where a folder link stops, and that the archive never stores itself.

#include <cstdint>
#include <string>
#include <vector>

#include "mail/file_system.h"

namespace mailsheaf {

// A folder below the root, as the walk meets it.
struct WalkFolder {
  std::string stored;      // its path in the archive: names mended for the importer, ends in "/"
  std::u16string source;   // its path below the root as the file system names it,
                           // "/"-separated, ends in "/"
  std::u16string renamed;  // why its stored name differs from its own; empty when it does not
  int64_t mtime = 0;
};

// A message, as the walk meets it.
struct WalkMessage {
  std::u16string path;           // the full path
  std::string stored;            // its name in the archive
  std::u16string folder;         // its folder's `source` (empty for the root)
  std::u16string renamed;        // why its stored name differs from its own (not UTF-8)
  uint64_t listed_size = 0;      // as listed: a hint only
  int64_t listed_time = 0;       // its modification time as listed
};

class TreeVisitor {
 public:
  virtual ~TreeVisitor() = default;
  // Before anything inside the folder. A link that leads back to a folder being walked is
  // reported here too, and then not entered.
  virtual bool OnFolder(const WalkFolder& folder) = 0;
  virtual bool OnMessage(const WalkMessage& message) = 0;
  // A file the archive leaves out by its name or its place: `why` says why when it looks like
  // mail (a ".eml" in a folder that never holds mail, an ".emlx"...), and is empty otherwise.
  virtual void OnLeftOut(const std::u16string& /*path*/, const std::u16string& /*folder*/,
                         const std::u16string& /*why*/) {}
  // Something the walk cannot get past; the walk ends after it.
  virtual void OnProblem(std::u16string reason) = 0;
  // Asked before each folder is listed; true ends the walk quietly.
  virtual bool Stopped() { return false; }
};

// The archive being written and its temporary file, when they lie inside the tree: the walk
// skips them. A destination that is a message the walk would store is a problem instead:
// replacing it would lose that message.
struct WalkExclusion {
  bool folder_known = false;
  FileIdentity folder;
  std::u16string destination_name;
  std::u16string temporary_name;  // empty when the unfinished archive has no name
};

// Depth-first from `root` (which ends with the separator): each folder's messages in name
// order, then its sub-folders in name order. Only the sub-folders still to visit are held, one
// list per level. False when a visitor call returned false, a problem was met or the visitor
// stopped the walk.
bool WalkTree(FileSystem& fs, const std::u16string& root, const WalkExclusion& exclusion,
              TreeVisitor& visitor);

// Whether the walk from `root` would store the file at `path`, found by going up from its
// folder until the root is met. Links inside the tree that lead out of it are not followed
// here; the walk itself still refuses to replace a message it meets.
bool WalkStoresFile(FileSystem& fs, const std::u16string& root, const std::u16string& path);

}  // namespace mailsheaf
