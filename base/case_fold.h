#pragma once
// Case-blind keys for names the mail server compares the way Java's String.equalsIgnoreCase
// does: two texts are alike without regard to case exactly when their keys are equal.

#include <string>
#include <string_view>

namespace mailsheaf {

// lower(upper(c)) by the one-code-point case mappings of the whole of Unicode; a code point
// whose mapping would take several (U+00DF) stays as it is, but for U+0130, which Java lowers
// to a plain "i".
char32_t CaseBlind(char32_t c);

// CaseBlind for every code point of the text: a surrogate pair is one code point, a lone
// surrogate stays as it is. No mapping crosses U+FFFF, so the key is as long as the text.
std::u16string CaseBlindText(std::u16string_view text);

}  // namespace mailsheaf
