#pragma once
// The names the archive gives the files it stores. Which files are messages is base/'s rule,
// shared with the scan.

#include <string>

#include "base/message_name.h"

namespace mailsheaf {

// The name as the archive stores it: UTF-8, and a message's extension in lower case, which is
// how the importer recognises a message.
std::string StoredName(const std::u16string& name, bool message);

}  // namespace mailsheaf
