#include "upload/win32/certificate_check.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "base/win32/system_error.h"
#include "base/win32/wide.h"
#include "upload/win32/security_words.h"

namespace mailsheaf {
namespace {

// SECURITY_FLAG_IGNORE_UNKNOWN_CA and SECURITY_FLAG_IGNORE_CERT_CN_INVALID, which wininet.h
// defines for the SSL policy's checks.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreName = 0x00001000;
// What a root the system does not know leaves in the chain's trust status: an untrusted root,
// or a chain that stops short at an issuer the server did not send.
constexpr DWORD kUnknownRoot = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN;
// Mozilla's whole bundle of authorities is a quarter of this.
constexpr LONGLONG kMaxCertificateFile = 8 * 1024 * 1024;

bool ReadWholeFile(const std::u16string& path, std::string& text, std::u16string& error) {
  const HANDLE file = CreateFileW(WidePointer(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER size{};
  DWORD got = 0;
  bool read = file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size);
  if (read && size.QuadPart > kMaxCertificateFile) {
    CloseHandle(file);
    error = u"Cannot read the certificate authorities in " + path + u": the file is too large";
    return false;
  }
  if (read) {
    text.resize(static_cast<size_t>(size.QuadPart));
    read = ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr) != 0;
  }
  const DWORD code = GetLastError();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!read) {
    error = u"Cannot read the certificate authorities in " + path + u": " + SystemErrorText(code);
    return false;
  }
  text.resize(got);
  return true;
}

bool AddEncoded(HCERTSTORE store, const BYTE* der, size_t size) {
  return CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, static_cast<DWORD>(size),
                                          CERT_STORE_ADD_ALWAYS, nullptr) != 0;
}

// One PEM block (header and footer included) into the store.
bool AddPem(HCERTSTORE store, std::string_view block) {
  DWORD size = 0;
  const DWORD length = static_cast<DWORD>(block.size());
  if (!CryptStringToBinaryA(block.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                            nullptr, nullptr)) {
    return false;
  }
  std::vector<BYTE> der(size);
  return CryptStringToBinaryA(block.data(), length, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                              nullptr, nullptr) &&
         AddEncoded(store, der.data(), size);
}

// The host as the bytes an IP address entry of a certificate holds, when it is an address.
bool AddressBytes(const std::string& host, std::vector<BYTE>& bytes) {
  in6_addr v6{};
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
    const BYTE* at = reinterpret_cast<const BYTE*>(&v4);
    bytes.assign(at, at + sizeof v4);
    return true;
  }
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
    const BYTE* at = reinterpret_cast<const BYTE*>(&v6);
    bytes.assign(at, at + sizeof v6);
    return true;
  }
  return false;
}

// Whether the certificate lists the address among its subject alternative names. Checked here
// because Wine's SSL policy compares only DNS names, and an address must not pass as a name.
bool NamesAddress(PCCERT_CONTEXT leaf, const std::vector<BYTE>& address) {
  const CERT_EXTENSION* names =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, leaf->pCertInfo->cExtension,
                        leaf->pCertInfo->rgExtension);
  CERT_ALT_NAME_INFO* info = nullptr;
  DWORD size = 0;
  if (names == nullptr ||
      !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, names->Value.pbData,
                           names->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < info->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = info->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
            entry.IPAddress.cbData == address.size() &&
            std::equal(address.begin(), address.end(), entry.IPAddress.pbData);
  }
  LocalFree(info);
  return found;
}

DWORD PolicyVerdict(PCCERT_CHAIN_CONTEXT chain, const std::string& host, DWORD ignore) {
  std::u16string name = Utf8ToUtf16(host);
  HTTPSPolicyCallbackData https{};
  https.cbStruct = sizeof https;
  https.dwAuthType = AUTHTYPE_SERVER;
  https.fdwChecks = ignore;
  https.pwszServerName = WideBuffer(name);
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &https;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
    return GetLastError();
  }
  return status.dwError;
}

// The SSL policy's verdict, and the chain's own trust status as well: Wine's policy passes
// some chains that do not end in a trusted root. `forgiven` are the trust faults of a root the
// system does not know that are not to count: that of one of the caller's authorities, or any,
// when the question is what else would refuse the certificate.
DWORD Verdict(PCCERT_CHAIN_CONTEXT chain, const std::string& host, DWORD ignore, DWORD forgiven) {
  const DWORD policy = PolicyVerdict(chain, host, ignore | (forgiven != 0 ? kIgnoreUnknownCa : 0));
  if (policy != 0) return policy;
  const DWORD errors = chain->TrustStatus.dwErrorStatus & ~forgiven;
  if (errors & CERT_TRUST_IS_PARTIAL_CHAIN) return static_cast<DWORD>(CERT_E_CHAINING);
  if (errors & CERT_TRUST_IS_UNTRUSTED_ROOT) return static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
  if (errors & CERT_TRUST_IS_NOT_TIME_VALID) return static_cast<DWORD>(CERT_E_EXPIRED);
  if (errors & CERT_TRUST_IS_REVOKED) return static_cast<DWORD>(CERT_E_REVOKED);
  if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) {
    return static_cast<DWORD>(TRUST_E_CERT_SIGNATURE);
  }
  if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return static_cast<DWORD>(CERT_E_WRONG_USAGE);
  return 0;
}

// Whether the chain's root is one of `authorities`.
bool EndsIn(PCCERT_CHAIN_CONTEXT chain, HCERTSTORE authorities) {
  if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return false;
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  const PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
  const PCCERT_CONTEXT found = CertFindCertificateInStore(
      authorities, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr);
  if (found == nullptr) return false;
  CertFreeCertificateContext(found);
  return true;
}

}  // namespace

CertificateStore ReadAuthorities(const std::u16string& path, std::u16string& error) {
  std::string text;
  if (!ReadWholeFile(path, text, error)) return nullptr;
  CertificateStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  if (store == nullptr) {
    error = u"No room for the certificate authorities: " + SystemErrorText(GetLastError());
    return nullptr;
  }
  static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  int count = 0;
  for (size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at)) {
    const size_t end = text.find(kEnd, at);
    if (end == std::string::npos ||
        !AddPem(store.get(), std::string_view(text).substr(at, end + kEnd.size() - at))) {
      error = u"Cannot read the certificate authorities in " + path + u": certificate " +
              DecimalText(count + 1) + u" in it is damaged";
      return nullptr;
    }
    ++count;
    at = end + kEnd.size();
  }
  if (count == 0 && !AddEncoded(store.get(), reinterpret_cast<const BYTE*>(text.data()),
                                text.size())) {
    error = u"Cannot read the certificate authorities in " + path + u": it holds no certificate";
    return nullptr;
  }
  return store;
}

bool CertificateTrusted(PCCERT_CONTEXT leaf, const std::string& host, HCERTSTORE authorities,
                        std::u16string& reason, bool& only_root_unknown) {
  only_root_unknown = false;
  HCERTSTORE extra = leaf->hCertStore;
  CertificateStore collection;
  if (authorities != nullptr) {
    collection.reset(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
    if (collection != nullptr) {
      CertAddStoreToCollection(collection.get(), authorities, 0, 0);
      CertAddStoreToCollection(collection.get(), leaf->hCertStore, 0, 0);
      extra = collection.get();
    }
  }
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, leaf, nullptr, extra, &parameters, 0, nullptr, &chain)) {
    reason = SecurityStatusText(GetLastError());
    return false;
  }
  // An address is compared below, not as a name by the policy.
  std::vector<BYTE> address;
  const bool is_address = AddressBytes(host, address);
  const DWORD ignore = is_address ? kIgnoreName : 0;
  DWORD verdict = Verdict(chain, host, ignore, 0);
  if (verdict != 0 && authorities != nullptr && EndsIn(chain, authorities)) {
    verdict = Verdict(chain, host, ignore, CERT_TRUST_IS_UNTRUSTED_ROOT);
  }
  // The policy stops at the chain's first fault: the name and dates of a certificate refused
  // for want of a root are asked again without it, as one that fails those is no case for a pin.
  const bool root_unknown = verdict == static_cast<DWORD>(CERT_E_UNTRUSTEDROOT) ||
                            verdict == static_cast<DWORD>(SEC_E_UNTRUSTED_ROOT) ||
                            verdict == static_cast<DWORD>(CERT_E_CHAINING);
  const bool else_fine = root_unknown && Verdict(chain, host, ignore, kUnknownRoot) == 0;
  CertFreeCertificateChain(chain);
  const bool names_host = !is_address || NamesAddress(leaf, address);
  if (verdict == 0 && !names_host) verdict = static_cast<DWORD>(CERT_E_CN_NO_MATCH);
  only_root_unknown = else_fine && names_host;
  if (verdict != 0) reason = SecurityStatusText(verdict);
  return verdict == 0;
}

}  // namespace mailsheaf
