#pragma once
// Which file or folder a path leads to, every link on the way followed: the volume's serial
// number and the file index on Windows, the device and inode natively. The count and the
// archive both tell by it a folder link that leads back into their walk.

#include <cstdint>

namespace mailsheaf {

struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

}  // namespace mailsheaf
