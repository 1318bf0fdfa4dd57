#include "base/nul_trim.h"

namespace mailsheaf {

std::u16string CutAtNul(std::u16string text) {
  const std::size_t nul = text.find(u'\0');
  if (nul != std::u16string::npos) text.resize(nul);
  return text;
}

}  // namespace mailsheaf
