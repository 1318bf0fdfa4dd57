#include "app/long_words.h"

namespace mailsheaf {
namespace {

bool EndsWord(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// How much of `word` goes on one line.
std::size_t FirstLine(std::u16string_view word, int maxWidth, const TextWidth& widthOf) {
  // The longest start that fits; widths grow with length.
  std::size_t fits = 1, tooLong = word.size();
  while (tooLong - fits > 1) {
    const std::size_t middle = fits + (tooLong - fits) / 2;
    (widthOf(word.substr(0, middle)) <= maxWidth ? fits : tooLong) = middle;
  }
  const std::size_t separator = word.substr(0, fits).find_last_of(u"\\/");
  if (separator != std::u16string_view::npos && separator > 0) return separator + 1;
  if (IsHighSurrogate(word[fits - 1])) return fits > 1 ? fits - 1 : fits + 1;
  return fits;
}

}  // namespace

std::u16string BreakLongWords(std::u16string_view text, int maxWidth, const TextWidth& widthOf) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    if (EndsWord(text[at])) {
      out.push_back(text[at++]);
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && !EndsWord(text[end])) ++end;
    std::u16string_view word = text.substr(at, end - at);
    while (word.size() > 1 && widthOf(word) > maxWidth) {
      const std::size_t line = FirstLine(word, maxWidth, widthOf);
      if (line >= word.size()) break;
      out.append(word.substr(0, line));
      out.append(u"\r\n");
      word.remove_prefix(line);
    }
    out.append(word);
    at = end;
  }
  return out;
}

}  // namespace mailsheaf
