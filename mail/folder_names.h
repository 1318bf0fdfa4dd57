#pragma once
// Folder names as Zimbra's import takes them. A message whose folder cannot be made, or cannot
// hold mail, is refused on its own while the import still reports success; so the names are
// mended as they are written (the messages' own file names are not touched), and each change
// says why, for the report.

#include <string>
#include <string_view>

namespace mailsheaf {

// Every character Zimbra refuses in a name (: " tab, CR, LF, other controls, U+FFFE, U+FFFF)
// becomes "_"; an empty or blank name becomes "_"; a name over 255 UTF-16 units is cut to 255
// at a character boundary.
std::u16string AcceptedFolderName(std::u16string_view name);

// "Junk" in any case, trailing spaces ignored: the folder that takes no sub-folders.
bool IsJunkFolder(std::u16string_view name);

// Where a folder sits decides which rules apply to its name. Every name is accepted as above.
// At the top, " (mail)" is added to the names of the account's folders for other things than
// mail (Contacts, Calendar, Tasks, Emailed Contacts, Briefcase, Files shared with me), which
// cannot hold messages, and the names mail programs give sent mail (Sent Items, Sent Messages,
// Sent Mail) become "Sent", the account's own. A sub-folder of the top-level Junk becomes a
// top-level folder of its own, "Junk - <name>", since Junk takes no sub-folders.
enum class FolderPlace { kTop, kBelowTopJunk, kDeeper };
struct StoredFolderName {
  std::u16string name;
  std::u16string why;  // why it differs from the folder's own name; empty when it does not
};
StoredFolderName NameToStore(std::u16string_view name, FolderPlace place);

// Top-level folders whose messages go into the account's Trash or Junk, which Zimbra empties
// on its own schedule: that folder's name, else empty.
std::u16string EmptiedSystemFolder(std::u16string_view stored_top_name);

// What Zimbra compares folder paths by: each name without its trailing spaces, case-blind over
// the whole of Unicode.
std::u16string MergeKey(std::u16string_view stored_path);

}  // namespace mailsheaf
