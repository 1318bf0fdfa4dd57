#pragma once
// Which files are messages, and what the others are. The scan counts messages and the archive
// stores them by this one rule, so that the count the window shows is the number of messages
// the archive is given; what only a message's contents can tell (an empty file, a Mac's
// resource file) the writer finds and reports.

#include <string>
#include <string_view>

namespace mailsheaf {

// The find-first pattern the scan lists messages by.
inline constexpr std::u16string_view kMessagePattern = u"*.eml";

// A name the pattern matches, the long name only: one ending in ".eml" in any case. Nothing
// else is a message: not ".emlx", not ".eml.txt", not "eml" without its dot.
bool IsMessageName(const std::u16string& name);

// A folder that never holds mail: the top-level __MACOSX, where a Mac puts the resource files
// of a zip it made (its ".eml" files are not messages).
bool IsNeverMailFolder(std::u16string_view name, bool at_top);

// Why a file that is not a message by its name still looks like mail to a person (an Apple
// Mail .emlx, an Outlook .msg, an mbox file, "x.eml.txt"), in words for the report; empty for
// any other file. `index_beside`: the folder also holds NAME.msf, the index a Thunderbird
// mbox file keeps beside it.
std::u16string WhyMailLikeFileIsLeftOut(std::u16string_view name, bool index_beside);

// The kind to count another left-out file under: a well-known name (Thumbs.db, desktop.ini,
// .DS_Store), Zimbra's ".meta" item data, else its extension in lower case (".dbx"), else "no
// extension".
std::u16string KindOfOtherFile(std::u16string_view name);

}  // namespace mailsheaf
