#include "app/time_stamp.h"

#include "base/text.h"

namespace mailsheaf {
namespace {

std::u16string TwoDigits(int value) {
  const int v = ((value % 100) + 100) % 100;
  return DecimalText(v / 10) + DecimalText(v % 10);
}

}  // namespace

std::u16string FormatTimeStamp(const LocalTime& time) {
  return DecimalText(time.day) + u"." + DecimalText(time.month) + u"." + TwoDigits(time.year) +
         u" " + DecimalText(time.hour) + u"." + DecimalText(time.minute) + u"." +
         TwoDigits(time.second);
}

}  // namespace mailsheaf
