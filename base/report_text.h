#pragma once
// How a report shows what it names, the same for both routes: names and a server's words in
// quotes with what would not show written out, and counts with their noun.

#include <cstdint>
#include <string>
#include <string_view>

namespace mailsheaf {

// In quotes, control characters (C0, DEL and C1) and bytes that are not text written out
// ("\t", "\x01", "\x81", "\xE9"), so that a trailing space, a line break or a byte that a
// terminal would swallow shows.
std::u16string Shown(std::u16string_view name);

// "1 message", "3 messages".
std::u16string CountText(int64_t n, const char16_t* one, const char16_t* many);

}  // namespace mailsheaf
