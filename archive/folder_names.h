#pragma once
// Folder names as Zimbra's import takes them. A message whose folder cannot be made, or cannot
// hold mail, is refused on its own while the import still reports success; so the names are
// mended as they are written (the messages' own file names are not touched).

#include <string>
#include <string_view>

namespace mailsheaf {

// Every character Zimbra refuses in a name (: " tab, CR, LF, other controls, U+FFFE, U+FFFF)
// becomes "_"; an empty or blank name becomes "_"; a name over 255 UTF-16 units is cut to 255
// at a character boundary.
std::u16string AcceptedFolderName(std::u16string_view name);

// A folder directly below the chosen folder: accepted, and " (mail)" added to the names of
// the account's folders for other things than mail (Contacts, Calendar, Tasks, Emailed
// Contacts, Briefcase, Files shared with me), which cannot hold messages.
std::u16string TopFolderName(std::u16string_view name);

// "Junk" in any case, trailing spaces ignored: the folder that takes no sub-folders.
bool IsJunkFolder(std::u16string_view name);
// A sub-folder of that Junk becomes a top-level folder of its own: "Junk - <name>".
std::u16string JunkSubFolderName(std::u16string_view name);

// What Zimbra compares folder paths by: each name without its trailing spaces, in lower case.
std::u16string MergeKey(std::u16string_view stored_path);

}  // namespace mailsheaf
