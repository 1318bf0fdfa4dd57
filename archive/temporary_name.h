#pragma once
// The names and contents of the temporary files an archive is written to before it is put in
// place: "<stem>.part<8 lowercase hex digits>" beside the destination, holding a gzip stream.
// A run that could not clean up after itself (a killed process, where the system cannot hide
// the file until it is complete) leaves one; a later run to the same folder recognises it here.

#include <cstddef>
#include <cstdint>
#include <string>

namespace mailsheaf {

// The temporary name for a file to be put in place as `destination_name`, with `random` as its
// 8 hex digits. It is never longer than the destination's name once that is longer than the
// 13 units the ending adds, so that it fits wherever the destination's name fits: the stem is
// then the name cut short, never inside a surrogate pair (nor so inside a UTF-8 sequence, as
// every unit dropped is at least one byte there).
std::u16string TemporaryName(const std::u16string& destination_name, uint32_t random);

// True for a name TemporaryName can make.
bool IsTemporaryName(const std::u16string& name);

// True when the first bytes of a file (at most two are looked at) are what a temporary file of
// ours starts with: nothing yet, or the gzip magic.
bool IsTemporaryContent(const unsigned char* head, size_t size);

}  // namespace mailsheaf
