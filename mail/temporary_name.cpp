#include "mail/temporary_name.h"

#include "base/text.h"

namespace mailsheaf {
namespace {

constexpr char16_t kMarker[] = u".mailsheaf-";
constexpr size_t kMarkerLength = 11;
constexpr size_t kDigits = 8;
constexpr size_t kPrefixLength = kMarkerLength + kDigits + 1;

}  // namespace

std::u16string TemporaryName(const std::u16string& destination_name, uint32_t random) {
  std::u16string name = kMarker;
  for (int shift = 28; shift >= 0; shift -= 4) {
    name.push_back(u"0123456789abcdef"[(random >> shift) & 0xF]);
  }
  name.push_back(u'-');
  // Never longer than the destination's name, which the folder is known to take.
  return name + (destination_name.size() > kPrefixLength
                     ? CutToUnits(destination_name, destination_name.size() - kPrefixLength)
                     : destination_name);
}

bool IsTemporaryName(const std::u16string& name) {
  if (name.size() < kPrefixLength || name.compare(0, kMarkerLength, kMarker) != 0 ||
      name[kPrefixLength - 1] != u'-') {
    return false;
  }
  for (size_t i = kMarkerLength; i < kPrefixLength - 1; ++i) {
    const char16_t c = name[i];
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
  }
  return true;
}

bool IsDeadLeftover(const std::u16string& name, const LeftoverFile& file, int64_t now) {
  return IsTemporaryName(name) && file.regular && !file.held &&
         now - file.modified >= kLeftoverAge;
}

}  // namespace mailsheaf
