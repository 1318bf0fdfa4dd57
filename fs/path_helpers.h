#pragma once
// Path forms shared by the file-system services and the window.

#include <string>
#include <vector>

namespace mailsheaf {

// What every wide file call receives in place of a path: the path behind the long-path prefix
// (\\?\ or \\?\UNC\ for a \\server path), as UTF-16LE bytes with one terminating NUL unit.
// The prefix is added whatever the length, so that the wide calls never meet the 260 limit;
// nothing else is done to the path (no separator rewriting, no resolving).
std::vector<unsigned char> LongPathBuffer(const std::u16string& path);

// The text up to its first NUL, for strings that come back from fixed-size system buffers.
std::u16string StripAtNul(const std::u16string& text);

// The folder part of a file path, up to and including its last backslash; empty without one.
std::u16string FolderOfPath(const std::u16string& path);

}  // namespace mailsheaf
