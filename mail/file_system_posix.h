#pragma once
// The native file system as it is where O_TMPFILE is missing: temporary files have their name
// from the start. The tests use it to check that route on a system that has O_TMPFILE.

#include "mail/file_system.h"

namespace mailsheaf {

FileSystem& RealFileSystemWithNamedTemporaryFiles();

}  // namespace mailsheaf
