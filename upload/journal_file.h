#pragma once
// Where the upload keeps its journal (upload_journal.h): one file per account, in the folder a
// user expects per-user data in (Linux: $XDG_STATE_HOME/mailsheaf, else
// ~/.local/state/mailsheaf; Windows: %LOCALAPPDATA%\Mailsheaf), named after the account. The
// file is only ever added to; deleting it starts afresh.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "upload/upload_journal.h"

namespace mailsheaf {

// An environment variable in UTF-8; false when it is not set.
using Variable = std::function<bool(const char* name, std::string& value)>;

// The journal folder for this user, in the platform's form, ending with its separator; empty
// when the environment names no home.
std::u16string JournalFolder(const Variable& variable, char16_t separator);

// The account's journal file name: readable, and distinct for each user, host and port.
std::u16string JournalFileName(const std::string& user, const std::string& host, uint16_t port);

// For the platform files: each line of what `read_some` gives in turn (0 bytes at the end),
// the last one even without its "\n". False with `read_some`'s reason.
using ReadSome = std::function<bool(char* buffer, size_t size, size_t& got, std::u16string& error)>;
bool ReadLinesInChunks(const ReadSome& read_some, const std::function<void(std::string_view)>& line,
                       std::u16string& error);

// Opens (making the folder and the file where missing, the file only for this user) the
// journal at `path`; its first line names the account. Null with the reason when it cannot.
std::unique_ptr<JournalFile> OpenJournalFile(const std::u16string& folder,
                                             const std::u16string& name,
                                             const std::string& first_line,
                                             std::u16string& error);

// The account's journal in `folder` (JournalFolder), named by JournalFileName, its first line
// naming the account and how to start afresh.
std::unique_ptr<JournalFile> OpenAccountJournal(const std::u16string& folder,
                                                const std::string& user, const std::string& host,
                                                uint16_t port, std::u16string& error);

}  // namespace mailsheaf
