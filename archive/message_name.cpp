#include "archive/message_name.h"

#include <string_view>

#include "base/text.h"

namespace mailsheaf {

bool IsMessageName(const std::u16string& name) {
  if (name.size() < 4) return false;
  const std::u16string_view ext(name.data() + name.size() - 4, 4);
  auto is = [](char16_t c, char16_t lower) { return c == lower || c == lower - 32; };
  return ext[0] == u'.' && is(ext[1], u'e') && is(ext[2], u'm') && is(ext[3], u'l');
}

std::string StoredName(const std::u16string& name, bool message) {
  std::string stored = Utf16ToUtf8(name);
  if (message) stored.replace(stored.size() - 4, 4, ".eml");
  return stored;
}

}  // namespace mailsheaf
