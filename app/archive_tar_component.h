#pragma once
// The window's archive writer: our TarArchive behind the TarComponent the window drives, its
// events going straight to the window.

#include <memory>

#include "app/tar_component.h"

namespace mailsheaf {

class ArchiveTarComponentFactory final : public TarComponentFactory {
 public:
  std::unique_ptr<TarComponent> CreateTarComponent(ArchiveEvents& events) override;
};

}  // namespace mailsheaf
