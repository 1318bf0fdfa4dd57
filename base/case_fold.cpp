#include "base/case_fold.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "base/text.h"

namespace mailsheaf {
namespace {

struct CaseRun {
  char32_t first;
  std::uint16_t count;
  std::uint8_t stride;
  std::int32_t delta;
};

constexpr CaseRun kCaseRuns[] = {
#include "base/case_fold_table.inc"
};

}  // namespace

char32_t CaseBlind(char32_t c) {
  if (c == 0x130) return u'i';  // Java's one-code-point lower case, which the server uses
  const auto after = std::upper_bound(std::begin(kCaseRuns), std::end(kCaseRuns), c,
                                      [](char32_t v, const CaseRun& run) { return v < run.first; });
  if (after == std::begin(kCaseRuns)) return c;
  const CaseRun& run = *std::prev(after);
  const char32_t offset = c - run.first;
  if (offset % run.stride != 0 || offset / run.stride >= run.count) return c;
  return static_cast<char32_t>(static_cast<std::int32_t>(c) + run.delta);
}

std::u16string CaseBlindText(std::u16string_view text) {
  std::u16string key;
  key.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendUtf16(key, CaseBlind(NextCodePoint(text, i)));
  return key;
}

}  // namespace mailsheaf
