#pragma once
// The POSIX pieces the archive's file system is built from: the system's words for an error,
// and the open files themselves.

#include <sys/stat.h>

#include <memory>
#include <string>

#include "mail/file_system.h"

namespace mailsheaf::archive_posix {

std::u16string ErrnoText(int code);
std::string Native(const std::u16string& path);
// A link whose target is not there at all, as opposed to one that cannot be examined.
bool NothingThere(int code);

// The open files, owning their descriptors.
std::unique_ptr<ReadableFile> MakeReadableFile(int fd, const struct stat& info);
// A temporary file in the folder `dir_fd`: unnamed until committed, or named `name` from the
// start (then `named`).
std::unique_ptr<WritableFile> MakeWritableFile(int dir_fd, int fd, std::string name, bool named);

}  // namespace mailsheaf::archive_posix
