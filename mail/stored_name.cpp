#include "mail/stored_name.h"

#include "base/text.h"

namespace mailsheaf {

std::string StoredName(const std::u16string& name, bool message) {
  std::string stored = Utf16ToUtf8(name);
  if (message) stored.replace(stored.size() - 4, 4, ".eml");
  return stored;
}

}  // namespace mailsheaf
