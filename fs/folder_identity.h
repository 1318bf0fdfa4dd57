#pragma once
// Which folder a path leads to, for telling a link that leads back up the tree from one that
// leads elsewhere.

#include <optional>
#include <string>

#include "base/file_identity.h"
#include "fs/capabilities.h"

namespace mailsheaf {

// The identity of the folder at the end of the path, every link on the way followed; nothing
// when it cannot be read. Takes the wide or ANSI route as the attribute queries do.
std::optional<FileIdentity> QueryFolderIdentity(System& system, const std::u16string& path);

}  // namespace mailsheaf
