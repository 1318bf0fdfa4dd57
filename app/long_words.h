#pragma once
// A message box grows as wide as the longest word of its text, and a path is one word: a long
// one pushes the box past the screen's edges. Such words are broken into lines beforehand.

#include <functional>
#include <string>
#include <string_view>

namespace mailsheaf {

using TextWidth = std::function<int(std::u16string_view)>;

// The text with a line break ("\r\n") inserted wherever a word (a run of characters other than
// spaces, tabs and line breaks) would be wider than `maxWidth`: after the last "\" or "/" that
// still fits, or, in a part without one, after the last character that fits (at least one, and
// never between the halves of a surrogate pair). Everything else is left as it was.
std::u16string BreakLongWords(std::u16string_view text, int maxWidth, const TextWidth& widthOf);

}  // namespace mailsheaf
