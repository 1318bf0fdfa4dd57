#pragma once
// The shell as the real program reaches it.

#include "app/ports.h"

namespace mailsheaf {

class Win32Shell final : public Shell {
 public:
  void ShellOpen(const std::u16string& target) override;
};

}  // namespace mailsheaf
