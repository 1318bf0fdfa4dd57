#include "app/archive_tar_component.h"

#include "archive/tar_archive.h"

namespace mailsheaf {
namespace {

class ArchiveTarComponent final : public TarComponent {
 public:
  explicit ArchiveTarComponent(ArchiveEvents& events) : archive_(&events) {}

  void SetArchiveFormat(const std::u16string& format) override {
    archive_.SetArchiveFormat(format);
  }
  std::int32_t AddRootFolder(const std::u16string& folder) override {
    return archive_.AddRootFolder(folder);
  }
  void SetCountedMessages(std::map<std::u16string, std::int64_t> counted) override {
    archive_.SetCountedMessages(std::move(counted));
  }
  std::int32_t WriteCompressedArchive(const std::u16string& destination) override {
    return archive_.WriteCompressedArchive(destination);
  }
  std::u16string LastErrorText() const override { return archive_.LastErrorText(); }
  std::int64_t MessagesStored() const override { return archive_.MessagesStored(); }
  RunReport Report() const override { return archive_.Report(); }
  std::u16string ReportFile() const override { return archive_.ReportFile(); }
  std::u16string ReportFileError() const override { return archive_.ReportFileError(); }
  void Stop() override { archive_.Stop(); }

 private:
  TarArchive archive_;
};

}  // namespace

std::unique_ptr<TarComponent> ArchiveTarComponentFactory::CreateTarComponent(
    ArchiveEvents& events) {
  return std::make_unique<ArchiveTarComponent>(events);
}

}  // namespace mailsheaf
