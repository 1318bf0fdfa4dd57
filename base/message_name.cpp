#include "base/message_name.h"

#include <string_view>

namespace mailsheaf {

bool IsMessageName(const std::u16string& name) {
  if (name.size() < 4) return false;
  const std::u16string_view ext(name.data() + name.size() - 4, 4);
  auto is = [](char16_t c, char16_t lower) { return c == lower || c == lower - 32; };
  return ext[0] == u'.' && is(ext[1], u'e') && is(ext[2], u'm') && is(ext[3], u'l');
}

}  // namespace mailsheaf
