#include "app/archive_tar_component.h"

#include "archive/tar_archive.h"

namespace mailsheaf {
namespace {

class ArchiveTarComponent final : public TarComponent, private ArchiveEvents {
 public:
  explicit ArchiveTarComponent(TarEvents& events) : events_(events), archive_(this) {}

  void SetArchiveFormat(const std::u16string& format) override {
    archive_.SetArchiveFormat(format);
  }
  std::int32_t AddRootFolder(const std::u16string& folder) override {
    return archive_.AddRootFolder(folder);
  }
  std::int32_t WriteCompressedArchive(const std::u16string& destination) override {
    return archive_.WriteCompressedArchive(destination);
  }
  void DiscardUnfinished() override { archive_.DiscardUnfinished(); }

 private:
  void ProgressInfo(const std::u16string& kind, const std::u16string& value) override {
    events_.ProgressInfo(kind, value);
  }
  void PercentDone(std::int32_t percent, bool& abort) override {
    events_.PercentDone(percent, abort);
  }

  TarEvents& events_;
  TarArchive archive_;
};

}  // namespace

std::unique_ptr<TarComponent> ArchiveTarComponentFactory::CreateTarComponent(TarEvents& events) {
  return std::make_unique<ArchiveTarComponent>(events);
}

}  // namespace mailsheaf
