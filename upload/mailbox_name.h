#pragma once
// Mailbox names in IMAP's modified UTF-7 (RFC 3501, 5.1.3): printable ASCII stands for itself
// ("&" as "&-"), anything else goes as "&" + UTF-16 in base64 with "," for "/" + "-".

#include <string>
#include <string_view>

namespace mailsheaf {

std::string EncodeModifiedUtf7(std::u16string_view name);

// False, with `name` untouched, when `wire` is not modified UTF-7: a byte outside printable
// ASCII, a base64 run that is unterminated, empty, or leaves bits over.
bool DecodeModifiedUtf7(std::string_view wire, std::u16string& name);

}  // namespace mailsheaf
