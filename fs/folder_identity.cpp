#include "fs/folder_identity.h"

#include "base/path_forms.h"

namespace mailsheaf {

std::optional<FileIdentity> QueryFolderIdentity(System& system, const std::u16string& path) {
  system.EnsureCapabilitiesDetected();
  SystemCalls& sys = system.Calls();
  FileIdentity identity;
  bool read;
  if (system.Capabilities().UseGetFileAttributesW) {
    const auto buffer = LongPathBuffer(path);
    read = sys.FolderIdentityW(buffer.data(), identity);
  } else {
    // Windows 95 family only.
    read = sys.FolderIdentityA(system.AnsiPath(path).c_str(), identity);
  }
  if (!read) {
    return std::nullopt;
  }
  return identity;
}

}  // namespace mailsheaf
