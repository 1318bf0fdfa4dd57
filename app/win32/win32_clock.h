#pragma once
// The local time, from Windows.

#include "app/ports.h"

namespace mailsheaf {

class Win32Clock final : public Clock {
 public:
  LocalTime Now() override;
};

}  // namespace mailsheaf
