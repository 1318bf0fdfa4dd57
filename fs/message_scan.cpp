#include "fs/message_scan.h"

#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "base/message_name.h"
#include "base/nul_trim.h"
#include "base/path_forms.h"
#include "base/text.h"
#include "fs/capabilities.h"
#include "fs/find_entries.h"
#include "fs/folder_identity.h"
#include "fs/system_records.h"
#include "base/wildcard_match.h"

namespace mailsheaf {
namespace {

struct Subfolder {
  std::u16string name;
  bool reparsePoint;  // only these can lead back up the tree
};

// One folder of the walk whose own listings are done and whose sub-folders are being walked.
// The walk keeps these on the heap rather than on the call stack, so a deep tree cannot exhaust
// the thread's stack; the order of everything the scan does is that of plain recursion.
struct WalkedFolder {
  std::u16string path;  // ends in "\"
  std::vector<Subfolder> SubfolderNames;
  size_t next = 0;
  bool identityQueried = false;
  std::optional<FileIdentity> identity;
};

// Closes a listing that an exception leaves open. A listing that ran to its end has been closed
// by FindNextEntry already (SearchHandle 0), one that never opened holds -1: neither is touched.
class OpenListingGuard {
 public:
  OpenListingGuard(System& system, FindState& state) : system_(system), state_(state) {}
  ~OpenListingGuard() {
    if (state_.SearchHandle != 0 && state_.SearchHandle != kInvalidSearchHandle) {
      CloseFind(system_, state_);
    }
  }
  OpenListingGuard(const OpenListingGuard&) = delete;
  OpenListingGuard& operator=(const OpenListingGuard&) = delete;

 private:
  System& system_;
  FindState& state_;
};

void AddOne(int32_t& counter) {
  if (counter == std::numeric_limits<int32_t>::max()) {
    throw CounterOverflow();
  }
  ++counter;
}

bool IsDotEntry(const std::u16string& name) { return name == u"." || name == u".."; }

bool IsFolder(int32_t attributes) {
  return (static_cast<uint32_t>(attributes) & kFileAttributeDirectory) != 0;
}

// Both listings of one folder. Returns the folder ready for its sub-folders to be walked.
WalkedFolder ListFolder(System& system, std::u16string path, const std::u16string& Pattern,
                        int32_t& MessageCounter, int32_t& FolderCounter, ScanHost& host,
                        bool top) {
  WalkedFolder folder;
  folder.path = std::move(path);
  const std::u16string& Path = folder.path;

  host.YieldToQueue();
  FindState state;
  OpenListingGuard guard(system, state);

  // Sub-folders: every entry, told apart by a separate attribute query of its full path.
  if (FindFirstEntry(system, Path + u"*", state) != kInvalidSearchHandle) {
    bool more = true;
    while (more) {
      host.YieldToQueue();
      const std::u16string name = CutAtNul(state.Name);
      if (!IsDotEntry(name)) {
        host.YieldToQueue();
        const int32_t attributes = system.QueryFileAttributes(Path + name);
        // A folder that never holds mail is neither counted nor walked, as the archive
        // leaves it out.
        if (IsFolder(attributes) && !IsNeverMailFolder(name, top)) {
          host.YieldToQueue();
          const bool reparsePoint =
              (static_cast<uint32_t>(attributes) & kFileAttributeReparsePoint) != 0;
          folder.SubfolderNames.push_back(Subfolder{name, reparsePoint});
          AddOne(FolderCounter);
        }
      }
      more = FindNextEntry(system, state) != 0;
    }
  }

  // Messages: the entries the pattern matches, except folders (and the dot entries).
  const int32_t counted_before = MessageCounter;
  if (FindFirstEntry(system, Path + Pattern, state) != kInvalidSearchHandle) {
    host.YieldToQueue();
    bool more = true;
    while (more) {
      host.YieldToQueue();
      const std::u16string name = CutAtNul(state.Name);
      // The system also matches the pattern against an entry's 8.3 alias (longname_message.emlx
      // is LONGNA~1.EML there); only the long name, the one the archive goes by, counts.
      if (MatchesWildcard(name, Pattern)) {
        const int32_t attributes = system.QueryFileAttributes(Path + name);
        if (!IsDotEntry(name) && !IsFolder(attributes)) {
          host.YieldToQueue();
          host.SetCountCaption(DecimalText(MessageCounter) + u" Messages Queued for Conversion.");
          AddOne(MessageCounter);
        }
      }
      more = FindNextEntry(system, state) != 0;
    }
  }

  host.FolderCounted(Path, MessageCounter - counted_before);

  if (!folder.SubfolderNames.empty()) {
    host.YieldToQueue();
  }
  return folder;
}

const std::optional<FileIdentity>& IdentityOf(System& system, WalkedFolder& folder) {
  if (!folder.identityQueried) {
    folder.identity = QueryFolderIdentity(system, folder.path);
    folder.identityQueried = true;
  }
  return folder.identity;
}

// Whether the link at linkPath leads to one of the folders being walked. An identity that
// cannot be read matches nothing, so such a link is walked like any folder.
bool LeadsToWalkedFolder(System& system, const std::u16string& linkPath,
                         std::vector<WalkedFolder>& walk) {
  const auto target = QueryFolderIdentity(system, linkPath);
  if (!target) {
    return false;
  }
  for (auto it = walk.rbegin(); it != walk.rend(); ++it) {
    const auto& identity = IdentityOf(system, *it);
    if (identity && *identity == *target) {
      return true;
    }
  }
  return false;
}

}  // namespace

void ScanMessageFolder(System& system, std::u16string& Path, const std::u16string& Pattern,
                       int32_t& MessageCounter, int32_t& FolderCounter, ScanHost& host) {
  EnsureTrailingBackslash(Path);

  std::vector<WalkedFolder> walk;
  walk.push_back(ListFolder(system, Path, Pattern, MessageCounter, FolderCounter, host, true));
  while (!walk.empty()) {
    WalkedFolder& current = walk.back();
    if (current.next == current.SubfolderNames.size()) {
      walk.pop_back();
      continue;
    }
    const Subfolder& sub = current.SubfolderNames[current.next++];
    host.YieldToQueue();
    if (sub.reparsePoint && LeadsToWalkedFolder(system, current.path + sub.name, walk)) {
      continue;
    }
    std::u16string childPath = current.path + sub.name + u"\\";
    walk.push_back(ListFolder(system, std::move(childPath), Pattern, MessageCounter, FolderCounter,
                              host, false));
  }
}

}  // namespace mailsheaf
