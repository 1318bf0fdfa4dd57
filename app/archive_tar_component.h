#pragma once
// The window's archive writer: our TarArchive behind the TarComponent the window drives, its
// events passed on to the window's handlers.

#include <memory>

#include "app/tar_component.h"

namespace mailsheaf {

class ArchiveTarComponentFactory final : public TarComponentFactory {
 public:
  std::unique_ptr<TarComponent> CreateTarComponent(TarEvents& events) override;
};

}  // namespace mailsheaf
