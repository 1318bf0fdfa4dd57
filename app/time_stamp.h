#pragma once
// The time stamp in the proposed archive name: "d.m.YY H.m.ss", where the second "m" stands for
// the minutes. 9 January 2015, 14:05:07 reads 9.1.15 14.5.07.

#include <string>

#include "app/ports.h"

namespace mailsheaf {

std::u16string FormatTimeStamp(const LocalTime& time);

}  // namespace mailsheaf
