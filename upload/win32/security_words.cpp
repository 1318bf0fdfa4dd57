#include "upload/win32/security_words.h"

#include <wincrypt.h>

#include <cstdio>
#include <cstring>

#include "base/win32/system_error.h"

namespace mailsheaf {
namespace {

// The chain checks read as the rest of "The certificate of HOST is not trusted (...)"; the
// handshake's as the rest of "TLS handshake with HOST failed: ...".
constexpr struct {
  HRESULT status;
  const char16_t* words;
} kWords[] = {
    {CERT_E_UNTRUSTEDROOT, u"it was issued by an authority this computer does not trust"},
    {SEC_E_UNTRUSTED_ROOT, u"it was issued by an authority this computer does not trust"},
    {SEC_E_ISSUING_CA_UNTRUSTED, u"it was issued by an authority this computer does not trust"},
    {CERT_E_UNTRUSTEDTESTROOT, u"it was issued by a test authority, which is not trusted"},
    {CERT_E_CHAINING, u"the authority that issued it is not known to this computer"},
    {CERT_E_EXPIRED, u"it has expired, or is not valid yet; check this computer's clock too"},
    {SEC_E_CERT_EXPIRED, u"it has expired, or is not valid yet; check this computer's clock too"},
    {CERT_E_VALIDITYPERIODNESTING, u"it is valid at times when its issuer is not"},
    {CERT_E_CN_NO_MATCH, u"it does not name this server"},
    {SEC_E_WRONG_PRINCIPAL, u"it does not name this server"},
    {CERT_E_WRONG_USAGE, u"it is not meant for a mail or web server"},
    {CERT_E_PURPOSE, u"it is not meant for a mail or web server"},
    {SEC_E_CERT_WRONG_USAGE, u"it is not meant for a mail or web server"},
    {CERT_E_REVOKED, u"the authority that issued it has revoked it"},
    {CRYPT_E_REVOKED, u"the authority that issued it has revoked it"},
    {CRYPT_E_REVOCATION_OFFLINE,
     u"whether it was revoked could not be checked: its authority's revocation list could not "
     u"be reached"},
    {CRYPT_E_NO_REVOCATION_CHECK, u"whether it was revoked could not be checked"},
    {CERT_E_ROLE, u"a certificate in its chain that is not an authority issued another"},
    {TRUST_E_BASIC_CONSTRAINTS, u"a certificate in its chain acts as an authority but is not one"},
    {TRUST_E_CERT_SIGNATURE, u"its signature, or one in its chain, is not valid"},
    {CERT_E_INVALID_NAME, u"its authority is not allowed to issue it for this name"},
    {SEC_E_CERT_UNKNOWN, u"the server's certificate could not be read"},
    {SEC_E_NO_AUTHENTICATING_AUTHORITY, u"no authority could be reached to check it"},
    {SEC_E_ALGORITHM_MISMATCH,
     u"the server and this computer have no TLS version or cipher in common (TLS 1.2 or later "
     u"is needed)"},
    {SEC_E_UNSUPPORTED_FUNCTION,
     u"the server asked for something this computer's TLS does not do (perhaps a TLS version "
     u"older than 1.2)"},
    {SEC_E_INTERNAL_ERROR,
     u"this computer's TLS failed inside (often over a cipher or key the server insists on that "
     u"this Windows lacks)"},
    {SEC_E_ILLEGAL_MESSAGE,
     u"the server refused the connection, or sent a TLS message that is not valid"},
    {SEC_E_INVALID_TOKEN, u"the server's answer is not TLS (is the port right?)"},
    {SEC_E_MESSAGE_ALTERED, u"data was altered on its way"},
    {SEC_E_DECRYPT_FAILURE, u"data from the server could not be decrypted"},
    {SEC_E_UNKNOWN_CREDENTIALS, u"this computer's TLS refused the settings asked for"},
    {SEC_E_NO_CREDENTIALS, u"this computer's TLS has no credentials to offer"},
    {SEC_E_INSUFFICIENT_MEMORY, u"there is not enough memory"},
    {SEC_E_CONTEXT_EXPIRED, u"the TLS session has ended"},
    {SEC_E_TARGET_UNKNOWN, u"the server's name is not known to this computer's TLS"},
};

std::u16string Hex(DWORD status) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "0x%08lX", static_cast<unsigned long>(status));
  return std::u16string(digits, digits + std::strlen(digits));
}

}  // namespace

std::u16string SecurityStatusText(DWORD status) {
  for (const auto& known : kWords) {
    if (static_cast<DWORD>(known.status) == status) {
      return std::u16string(known.words) + u" (" + Hex(status) + u")";
    }
  }
  std::u16string text = SystemErrorText(status);
  // The system's fallback names the code already.
  if (text.find(Hex(status)) == std::u16string::npos) text += u" (" + Hex(status) + u")";
  return text;
}

}  // namespace mailsheaf
