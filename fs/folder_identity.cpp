#include "fs/folder_identity.h"

#include "base/path_forms.h"
#include "fs/capabilities.h"
#include "fs/system_calls.h"

namespace mailsheaf {

std::optional<FileIdentity> QueryFolderIdentity(const std::u16string& path) {
  EnsureCapabilitiesDetected();
  SystemCalls& sys = ActiveSystemCalls();
  FileIdentity identity;
  bool read;
  if (Capabilities().UseGetFileAttributesW) {
    const auto buffer = LongPathBuffer(path);
    read = sys.FolderIdentityW(buffer.data(), identity);
  } else {
    // Windows 95 family only.
    read = sys.FolderIdentityA(AnsiPath(path).c_str(), identity);
  }
  if (!read) {
    return std::nullopt;
  }
  return identity;
}

}  // namespace mailsheaf
