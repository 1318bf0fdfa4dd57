#include "base/wildcard_match.h"

namespace mailsheaf {
namespace {

char16_t FoldCase(char16_t c) {
  if (c >= u'a' && c <= u'z') {
    return static_cast<char16_t>(c - 0x20);
  }
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
    return static_cast<char16_t>(c - 0x20);
  }
  return c;
}

}  // namespace

bool MatchesWildcard(std::u16string_view name, std::u16string_view pattern) {
  if (pattern == u"*.*") {
    pattern = u"*";
  }
  // Greedy matching that backtracks to the last "*" only: linear in practice, never exponential.
  size_t n = 0;
  size_t p = 0;
  size_t starP = std::u16string_view::npos;
  size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') {
    ++p;
  }
  return p == pattern.size();
}

}  // namespace mailsheaf
