#pragma once
// The program's one text type is UTF-16 (std::u16string). These convert it at the edges:
// UTF-8 for tar entry names and POSIX paths.

#include <string>
#include <string_view>

namespace mailsheaf {

// Unpaired surrogates become U+FFFD: a name the file system hands us must still produce
// valid UTF-8, never a truncated one.
std::string Utf16ToUtf8(std::u16string_view text);

// Malformed sequences (stray continuation bytes, overlongs, surrogates, values past U+10FFFF)
// become U+FFFD, one per offending byte.
std::u16string Utf8ToUtf16(std::string_view text);

// Names as a native file system gives them: bytes, nearly always UTF-8. Each byte that is not
// part of well-formed UTF-8 becomes a lone low surrogate (U+DC80..U+DCFF), so that the name
// still leads back to its file; `utf8` says whether there was none.
std::u16string BytesToName(std::string_view bytes, bool& utf8);
// The bytes a name came from (BytesToName's inverse); other text as UTF-8.
std::string NameToBytes(std::u16string_view name);
// Windows' code page 1252, where names that are not UTF-8 usually come from (a zip made on
// Windows, unpacked elsewhere).
std::u16string Windows1252ToUtf16(std::string_view bytes);

// The code point at `at`, which moves past it: a surrogate pair is one code point, a lone
// surrogate comes back as it is. `at` must be inside the text.
char32_t NextCodePoint(std::u16string_view text, size_t& at);

// One code point onto UTF-16 text, as a surrogate pair past U+FFFF.
void AppendUtf16(std::u16string& out, char32_t cp);

// Plain ASCII into the text type, for literals built at run time.
std::u16string AsciiToUtf16(std::string_view ascii);

// The text cut to at most `units` code units, never between the two halves of a surrogate
// pair (then one unit shorter): a cut name still turns into valid UTF-8.
std::u16string CutToUnits(std::u16string text, size_t units);

// Whole-number decimal digits, no grouping, as the window shows counts.
std::u16string DecimalText(long long value);

}  // namespace mailsheaf
