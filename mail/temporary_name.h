#pragma once
// The temporary files an archive or its report is written to before it is put in place, and
// the one rule for which of them a later run may remove. Where the system cannot hide a file
// until it is complete, a killed run leaves one behind; the next run to the folder removes it
// only when it is certainly ours and certainly dead, so that no file of the user's (a split
// archive "backup.tgz.part00000000", say) and no live write is ever touched.

#include <cstdint>
#include <string>

namespace mailsheaf {

// ".mailsheaf-" + 8 lowercase hex digits (`random`) + "-" + the destination's name: a prefix no
// user would choose. It is never longer than the destination's name once that is longer than
// the 20 units the prefix adds, so that it fits wherever the destination's name fits: the name
// is then cut short, never inside a surrogate pair (nor so inside a UTF-8 sequence, as every
// unit dropped is at least one byte there).
std::u16string TemporaryName(const std::u16string& destination_name, uint32_t random);

// True for a name TemporaryName can make.
bool IsTemporaryName(const std::u16string& name);

// What a sweep found out about an entry with a temporary name.
struct LeftoverFile {
  bool regular = false;  // a plain file, seen without following a link
  bool held = false;     // a running write holds it (locked, or open without sharing)
  int64_t modified = 0;  // seconds since 1970 UTC of its last change
};

// A write whose lock a sweep cannot see (Wine's and Linux's locks do not meet) still changes
// its file far more often than this.
inline constexpr int64_t kLeftoverAge = 3600;

// The one rule: an entry may be removed when it has our name, is a regular file that no write
// holds, and has not changed for kLeftoverAge seconds at `now`.
bool IsDeadLeftover(const std::u16string& name, const LeftoverFile& file, int64_t now);

}  // namespace mailsheaf
