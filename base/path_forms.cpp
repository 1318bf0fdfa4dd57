#include "base/path_forms.h"

namespace mailsheaf {

std::vector<unsigned char> LongPathBuffer(const std::u16string& path) {
  std::u16string text;
  if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
    text = u"\\\\?\\UNC\\" + path.substr(2);
  } else {
    text = u"\\\\?\\" + path;
  }
  text.push_back(u'\0');

  std::vector<unsigned char> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
    bytes.push_back(static_cast<unsigned char>(unit >> 8));
  }
  return bytes;
}

std::u16string FolderOfPath(const std::u16string& path) {
  const auto slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

void EnsureTrailingBackslash(std::u16string& path) {
  if (path.empty() || path.back() != u'\\') path.push_back(u'\\');
}

}  // namespace mailsheaf
