#pragma once
// The system's own words for a Win32 error code (or an HRESULT, such as SEC_E_* and CERT_E_*).

#include <windows.h>

#include <string>

namespace mailsheaf {

// Without the trailing line end and full stop; "System error N" when the system has no words.
std::u16string SystemErrorText(DWORD code);

}  // namespace mailsheaf
