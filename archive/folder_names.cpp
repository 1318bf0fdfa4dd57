#include "archive/folder_names.h"

#include <algorithm>

#include "base/text.h"

namespace mailsheaf {
namespace {

constexpr size_t kLongestName = 255;

bool Refused(char16_t c) {
  return c < 0x20 || c == u':' || c == u'"' || c == 0xFFFE || c == 0xFFFF;
}

// Lower case as far as names of folders usually need it: ASCII, Latin-1, Greek, Cyrillic.
char16_t Lower(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

std::u16string_view WithoutTrailingSpaces(std::u16string_view name) {
  while (!name.empty() && name.back() == u' ') name.remove_suffix(1);
  return name;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  a = WithoutTrailingSpaces(a);
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

}  // namespace

std::u16string AcceptedFolderName(std::u16string_view name) {
  std::u16string accepted(name);
  std::replace_if(accepted.begin(), accepted.end(), Refused, u'_');
  if (WithoutTrailingSpaces(accepted).empty()) return u"_";
  return CutToUnits(std::move(accepted), kLongestName);
}

std::u16string TopFolderName(std::u16string_view name) {
  static const char16_t* const kNotForMail[] = {u"Contacts", u"Calendar", u"Tasks",
                                                u"Emailed Contacts", u"Briefcase",
                                                u"Files shared with me"};
  std::u16string accepted = AcceptedFolderName(name);
  for (const char16_t* reserved : kNotForMail) {
    if (SameName(accepted, reserved)) {
      return std::u16string(WithoutTrailingSpaces(accepted)) + u" (mail)";
    }
  }
  return accepted;
}

bool IsJunkFolder(std::u16string_view name) { return SameName(name, u"Junk"); }

std::u16string JunkSubFolderName(std::u16string_view name) {
  return CutToUnits(u"Junk - " + AcceptedFolderName(name), kLongestName);
}

std::u16string MergeKey(std::u16string_view stored_path) {
  std::u16string key;
  size_t start = 0;
  while (start < stored_path.size()) {
    size_t slash = stored_path.find(u'/', start);
    if (slash == std::u16string_view::npos) slash = stored_path.size();
    for (char16_t c : WithoutTrailingSpaces(stored_path.substr(start, slash - start))) {
      key.push_back(Lower(c));
    }
    key.push_back(u'/');
    start = slash + 1;
  }
  return key;
}

}  // namespace mailsheaf
