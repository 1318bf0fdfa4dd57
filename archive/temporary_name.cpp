#include "archive/temporary_name.h"

#include "base/text.h"

namespace mailsheaf {
namespace {

constexpr char16_t kPart[] = u".part";
constexpr size_t kPartLength = 5;
constexpr size_t kDigits = 8;
constexpr size_t kEndingLength = kPartLength + kDigits;

}  // namespace

std::u16string TemporaryName(const std::u16string& destination_name, uint32_t random) {
  // Never longer than the destination's name, which the folder is known to take.
  std::u16string name = destination_name.size() > kEndingLength
                            ? CutToUnits(destination_name, destination_name.size() - kEndingLength)
                            : destination_name;
  name += kPart;
  for (int shift = 28; shift >= 0; shift -= 4) {
    name.push_back(u"0123456789abcdef"[(random >> shift) & 0xF]);
  }
  return name;
}

bool IsTemporaryName(const std::u16string& name) {
  if (name.size() < kEndingLength) return false;
  const size_t digits = name.size() - kDigits;
  if (name.compare(digits - kPartLength, kPartLength, kPart) != 0) return false;
  for (size_t i = digits; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
  }
  return true;
}

bool IsTemporaryContent(const unsigned char* head, size_t size) {
  if (size == 0) return true;
  return head[0] == 0x1F && (size == 1 || head[1] == 0x8B);
}

}  // namespace mailsheaf
