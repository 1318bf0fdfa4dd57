#pragma once
// Path forms shared by the file-system services, the archive writer and the window.

#include <string>
#include <vector>

namespace mailsheaf {

// What every wide file call receives in place of a path: the path behind the long-path prefix
// (\\?\ or \\?\UNC\ for a \\server path), as UTF-16LE bytes with one terminating NUL unit.
// The prefix is added whatever the length, so that the wide calls never meet the 260 limit;
// nothing else is done to the path (no separator rewriting, no resolving).
std::vector<unsigned char> LongPathBuffer(const std::u16string& path);

// The folder part of a file path, up to and including its last backslash; empty without one.
std::u16string FolderOfPath(const std::u16string& path);

// Appends a backslash unless the path already ends in one; the empty path becomes "\".
void EnsureTrailingBackslash(std::u16string& path);

}  // namespace mailsheaf
