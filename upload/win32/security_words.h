#pragma once
// Schannel's and the certificate chain's status codes in words a user understands: the
// system's own text for them is a bare "System error 0x800B0109" on many systems (Wine's too).

#include <windows.h>

#include <string>

namespace mailsheaf {

// The words, with the code in parentheses for whoever looks it up: "it was issued by an
// authority this computer does not trust (0x800B0109)". Codes without words of ours get the
// system's text.
std::u16string SecurityStatusText(DWORD status);

}  // namespace mailsheaf
