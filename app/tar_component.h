#pragma once
// What the window asks of the archive writer it drives for one run. The writer raises its
// progress events on the window (FrmStep1) synchronously, inside WriteCompressedArchive.

#include <cstdint>
#include <string>

namespace mailsheaf {

class TarComponent {
 public:
  virtual ~TarComponent() = default;
  virtual void SetArchiveFormat(const std::u16string& format) = 0;
  // 1 when the folder tree has been taken in as the archive's root; anything else is a failure.
  virtual std::int32_t AddRootFolder(const std::u16string& folder) = 0;
  // 1 when the gzip-compressed tar has been written to the path; anything else is a failure.
  virtual std::int32_t WriteCompressedArchive(const std::u16string& destination) = 0;
};

}  // namespace mailsheaf
