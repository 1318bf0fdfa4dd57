#pragma once
// Which files are messages, and the names the archive gives them.

#include <string>

namespace mailsheaf {

// A name ending in ".eml" in any case. Nothing else is a message: not ".emlx", not ".eml.txt",
// not "eml" without its dot.
bool IsMessageName(const std::u16string& name);

// The name as the archive stores it: UTF-8, and a message's extension in lower case, which is
// how the importer recognises a message.
std::string StoredName(const std::u16string& name, bool message);

}  // namespace mailsheaf
