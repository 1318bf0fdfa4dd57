// Winsock and Schannel through SSPI, both part of Windows. Schannel is told to leave the
// certificate to us (manual validation): the chain is built and checked against the system's
// store and the host name by CertGetCertificateChain and the SSL chain policy, where a CA file
// of the caller's and a pinned fingerprint can still be taken into account.

// Sockets first, windows.h next, the security headers after it: each needs the one before.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <bcrypt.h>
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <algorithm>
#include <vector>

#include "base/text.h"
#include "base/win32/system_error.h"
#include "base/win32/wide.h"
#include "upload/certificate_fingerprint.h"
#include "upload/transport.h"

namespace mailsheaf {
namespace {

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;
// SECURITY_FLAG_IGNORE_UNKNOWN_CA, which wininet.h defines for the SSL policy's checks.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr size_t kReadChunk = 16 * 1024 + 512;
constexpr size_t kMaxCertificateFile = 1024 * 1024;

std::u16string StatusText(LONG status) { return SystemErrorText(static_cast<DWORD>(status)); }

bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

bool Sha256(const BYTE* data, DWORD size, Sha256Digest& digest) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
    return false;
  }
  BCRYPT_HASH_HANDLE hash = nullptr;
  const bool ok = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
                  BCryptHashData(hash, const_cast<BYTE*>(data), size, 0) == 0 &&
                  BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) == 0;
  if (hash != nullptr) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

// The first certificate of a PEM (or DER) file, or null with the reason.
PCCERT_CONTEXT ReadCertificateFile(const std::u16string& path, std::u16string& error) {
  const HANDLE file = CreateFileW(WidePointer(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string text(kMaxCertificateFile, '\0');
  DWORD got = 0;
  const bool read = file != INVALID_HANDLE_VALUE &&
                    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
  const DWORD code = GetLastError();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!read) {
    error = u"Cannot read " + path + u": " + SystemErrorText(code);
    return nullptr;
  }
  text.resize(got);
  DWORD size = 0;
  std::vector<BYTE> der;
  if (CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                           nullptr, &size, nullptr, nullptr)) {
    der.resize(size);
    CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                         der.data(), &size, nullptr, nullptr);
  } else {
    der.assign(text.begin(), text.end());
  }
  PCCERT_CONTEXT certificate = CertCreateCertificateContext(
      X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  if (certificate == nullptr) error = u"No certificate could be read from " + path;
  return certificate;
}

class SchannelTransport final : public Transport {
 public:
  ~SchannelTransport() override { Close(); }

  bool Connect(const std::string& host, uint16_t port, int timeout_ms,
               std::u16string& error) override {
    Close();
    host_ = host;
    if (!StartWinsock()) {
      error = u"The network could not be started: " + SystemErrorText(WSAGetLastError());
      return false;
    }
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* found = nullptr;
    const std::u16string wide_host = Utf8ToUtf16(host);
    const std::u16string service = DecimalText(port);
    const int lookup = GetAddrInfoW(WidePointer(wide_host), WidePointer(service), &hints, &found);
    if (lookup != 0) {
      error = u"Cannot find " + wide_host + u": " + SystemErrorText(static_cast<DWORD>(lookup));
      return false;
    }
    int last = 0;
    for (ADDRINFOW* a = found; a != nullptr && socket_ == INVALID_SOCKET; a = a->ai_next) {
      SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
      if (s == INVALID_SOCKET) {
        last = WSAGetLastError();
        continue;
      }
      if (ConnectWithin(s, a->ai_addr, static_cast<int>(a->ai_addrlen), timeout_ms, last)) {
        socket_ = s;
      } else {
        closesocket(s);
      }
    }
    FreeAddrInfoW(found);
    if (socket_ == INVALID_SOCKET) {
      error = u"Cannot connect to " + wide_host + u":" + service + u": " + SystemErrorText(last);
      return false;
    }
    const BOOL one = TRUE;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    if (timeout_ms > 0) {
      const DWORD limit = static_cast<DWORD>(timeout_ms);
      setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                 sizeof limit);
      setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit),
                 sizeof limit);
    }
    return true;
  }

  bool StartTls(const TlsOptions& options, std::u16string& error) override {
    Sha256Digest pinned{};
    if (!options.trust_certificate_sha256.empty() &&
        !ParseFingerprint(options.trust_certificate_sha256, pinned)) {
      error = u"The certificate fingerprint to trust is not 32 bytes in hex";
      return false;
    }
    if (socket_ == INVALID_SOCKET || has_context_) {
      error = u"TLS can start only once, on an open connection";
      return false;
    }
    SCHANNEL_CRED credentials{};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    credentials.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    const SECURITY_STATUS acquired =
        AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                  nullptr, &credentials, nullptr, nullptr, &credentials_, &expiry);
    if (acquired != SEC_E_OK) return Fail(u"TLS is not available: " + StatusText(acquired), error);
    has_credentials_ = true;
    std::u16string reason;
    if (!Handshake(reason)) {
      return Fail(u"TLS handshake with " + Utf8ToUtf16(host_) + u" failed: " + reason, error);
    }
    if (!CheckCertificate(options, error)) {
      Close();
      return false;
    }
    const SECURITY_STATUS sized =
        QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (sized != SEC_E_OK) return Fail(u"TLS failure: " + StatusText(sized), error);
    return true;
  }

  TransportStatus WriteAll(const char* data, size_t size, std::u16string& error) override {
    if (!has_context_) return PlainSend(data, size, error);
    std::vector<char> record;
    while (size > 0) {
      const size_t part = std::min<size_t>(size, sizes_.cbMaximumMessage);
      record.resize(sizes_.cbHeader + part + sizes_.cbTrailer);
      std::copy(data, data + part, record.data() + sizes_.cbHeader);
      SecBuffer buffers[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
          {static_cast<unsigned long>(part), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + part},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = EncryptMessage(&context_, 0, &description, 0);
      if (status != SEC_E_OK) {
        error = u"TLS failure: " + StatusText(status);
        return TransportStatus::kFailed;
      }
      const TransportStatus sent = PlainSend(
          record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer, error);
      if (sent != TransportStatus::kOk) return sent;
      data += part;
      size -= part;
    }
    return TransportStatus::kOk;
  }

  TransportStatus ReadSome(char* buffer, size_t capacity, size_t& received,
                           std::u16string& error) override {
    received = 0;
    if (!has_context_) return PlainReceive(buffer, capacity, received, error);
    while (plain_.empty()) {
      const TransportStatus status = DecryptSome(error);
      if (status != TransportStatus::kOk) return status;
    }
    received = std::min(capacity, plain_.size());
    std::copy(plain_.begin(), plain_.begin() + static_cast<std::ptrdiff_t>(received), buffer);
    plain_.erase(plain_.begin(), plain_.begin() + static_cast<std::ptrdiff_t>(received));
    return TransportStatus::kOk;
  }

  void SetCancel(std::function<bool()> cancelled) override { cancelled_ = std::move(cancelled); }

  void Close() override {
    // No TLS goodbye (close_notify): IMAP's LOGOUT has ended the session by then, and the
    // shutdown token is one more exchange for Wine's Schannel to get wrong.
    if (has_context_) {
      DeleteSecurityContext(&context_);
      has_context_ = false;
    }
    if (has_credentials_) {
      FreeCredentialsHandle(&credentials_);
      has_credentials_ = false;
    }
    if (socket_ != INVALID_SOCKET) {
      closesocket(socket_);
      socket_ = INVALID_SOCKET;
    }
    sealed_.clear();
    plain_.clear();
  }

 private:
  static bool ConnectWithin(SOCKET s, const sockaddr* address, int length, int timeout_ms,
                            int& code) {
    u_long blocking = timeout_ms > 0 ? 1 : 0;
    ioctlsocket(s, FIONBIO, &blocking);
    bool ok = ::connect(s, address, length) == 0;
    if (!ok) code = WSAGetLastError();
    if (!ok && code == WSAEWOULDBLOCK) {
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s, &writable);
      FD_SET(s, &failed);
      timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
      const int ready = select(0, nullptr, &writable, &failed, &limit);
      int size = sizeof code;
      if (ready == 1 && FD_ISSET(s, &writable)) {
        ok = true;
      } else if (ready == 1) {
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size);
      } else {
        code = ready == 0 ? WSAETIMEDOUT : WSAGetLastError();
      }
    }
    blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    return ok;
  }

  TransportStatus PlainSend(const char* data, size_t size, std::u16string& error) {
    while (size > 0) {
      const int sent = send(socket_, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
      if (sent == SOCKET_ERROR) return SocketFailure(WSAGetLastError(), error);
      data += sent;
      size -= static_cast<size_t>(sent);
    }
    return TransportStatus::kOk;
  }

  TransportStatus PlainReceive(char* buffer, size_t capacity, size_t& received,
                               std::u16string& error) {
    const int got = recv(socket_, buffer, static_cast<int>(std::min<size_t>(capacity, 1 << 20)), 0);
    if (got == SOCKET_ERROR) return SocketFailure(WSAGetLastError(), error);
    if (got == 0) return Closed(error);
    received = static_cast<size_t>(got);
    return TransportStatus::kOk;
  }

  // More of the server's bytes appended to sealed_.
  TransportStatus ReceiveSealed(std::u16string& error) {
    const size_t old_size = sealed_.size();
    sealed_.resize(old_size + kReadChunk);
    size_t got = 0;
    const TransportStatus status = PlainReceive(sealed_.data() + old_size, kReadChunk, got, error);
    sealed_.resize(old_size + got);
    return status;
  }

  TransportStatus DecryptSome(std::u16string& error) {
    if (!sealed_.empty()) {
      SecBuffer buffers[4] = {
          {static_cast<unsigned long>(sealed_.size()), SECBUFFER_DATA, sealed_.data()},
          {0, SECBUFFER_EMPTY, nullptr},
          {0, SECBUFFER_EMPTY, nullptr},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = DecryptMessage(&context_, &description, 0, nullptr);
      if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
        std::vector<char> extra;
        for (const SecBuffer& b : buffers) {
          const char* bytes = static_cast<const char*>(b.pvBuffer);
          if (b.BufferType == SECBUFFER_DATA)
            plain_.insert(plain_.end(), bytes, bytes + b.cbBuffer);
          if (b.BufferType == SECBUFFER_EXTRA) extra.assign(bytes, bytes + b.cbBuffer);
        }
        sealed_.swap(extra);
        if (status == SEC_I_CONTEXT_EXPIRED) {
          return plain_.empty() ? Closed(error) : TransportStatus::kOk;
        }
        if (status == SEC_I_RENEGOTIATE) {
          std::u16string reason;
          if (!Handshake(reason)) {
            error = u"TLS failure: " + reason;
            return TransportStatus::kFailed;
          }
        }
        return TransportStatus::kOk;
      }
      if (status != SEC_E_INCOMPLETE_MESSAGE) {
        error = u"TLS failure: " + StatusText(status);
        return TransportStatus::kFailed;
      }
    }
    if (sealed_.size() >
        sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer + kReadChunk) {
      error = u"The server sent a TLS record larger than TLS allows";
      return TransportStatus::kFailed;
    }
    return ReceiveSealed(error);
  }

  // InitializeSecurityContext until the context is complete, with sealed_ as what the server
  // sent so far; what arrives past the handshake stays in sealed_.
  bool Handshake(std::u16string& reason) {
    const std::u16string target = Utf8ToUtf16(host_);
    SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
    bool first = !has_context_;
    while (true) {
      if (!first && (sealed_.empty() || status == SEC_E_INCOMPLETE_MESSAGE)) {
        std::u16string io;
        if (ReceiveSealed(io) != TransportStatus::kOk) {
          reason = io;
          return false;
        }
      }
      SecBuffer in[2] = {
          {static_cast<unsigned long>(sealed_.size()), SECBUFFER_TOKEN, sealed_.data()},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc in_description{SECBUFFER_VERSION, 2, in};
      SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
      SecBufferDesc out_description{SECBUFFER_VERSION, 1, out};
      ULONG attributes = 0;
      status = InitializeSecurityContextW(&credentials_, first ? nullptr : &context_,
                                          const_cast<wchar_t*>(WidePointer(target)), kContextFlags,
                                          0, 0, first ? nullptr : &in_description, 0, &context_,
                                          &out_description, &attributes, nullptr);
      if (first) has_context_ = status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK;
      first = false;
      if (out[0].cbBuffer > 0 && out[0].pvBuffer != nullptr) {
        std::u16string io;
        const TransportStatus sent =
            PlainSend(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer, io);
        FreeContextBuffer(out[0].pvBuffer);
        if (sent != TransportStatus::kOk) {
          reason = io;
          return false;
        }
      }
      if (status == SEC_E_INCOMPLETE_MESSAGE) continue;
      if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
        sealed_.erase(sealed_.begin(), sealed_.end() - in[1].cbBuffer);
      } else {
        sealed_.clear();
      }
      if (status == SEC_E_OK) return true;
      if (status != SEC_I_CONTINUE_NEEDED && status != SEC_I_INCOMPLETE_CREDENTIALS) {
        reason = StatusText(status);
        return false;
      }
    }
  }

  bool CheckCertificate(const TlsOptions& options, std::u16string& error) {
    PCCERT_CONTEXT leaf = nullptr;
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &leaf) != SEC_E_OK ||
        leaf == nullptr) {
      error = u"The server showed no certificate";
      return false;
    }
    Sha256Digest digest{};
    bool trusted = false;
    std::u16string reason;
    if (!Sha256(leaf->pbCertEncoded, leaf->cbCertEncoded, digest)) {
      error = u"The server's certificate could not be measured";
    } else {
      trusted = ChainTrusted(leaf, options.ca_file, reason, error) ||
                PinnedFingerprintMatches(options.trust_certificate_sha256, digest);
      if (!trusted && error.empty()) error = UntrustedCertificateText(host_, reason, digest);
    }
    CertFreeCertificateContext(leaf);
    return trusted;
  }

  // The SSL chain policy with the host name, against the system's roots; with a CA file, a
  // chain that ends in that CA passes too, the policy's other checks still applying.
  bool ChainTrusted(PCCERT_CONTEXT leaf, const std::u16string& ca_file, std::u16string& reason,
                    std::u16string& error) {
    PCCERT_CONTEXT authority = nullptr;
    HCERTSTORE extra = leaf->hCertStore;
    HCERTSTORE collection = nullptr;
    if (!ca_file.empty()) {
      authority = ReadCertificateFile(ca_file, error);
      if (authority == nullptr) return false;
      collection = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
      HCERTSTORE memory = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
      CertAddCertificateContextToStore(memory, authority, CERT_STORE_ADD_ALWAYS, nullptr);
      CertAddStoreToCollection(collection, memory, 0, 0);
      CertAddStoreToCollection(collection, leaf->hCertStore, 0, 0);
      CertCloseStore(memory, 0);
      extra = collection;
    }
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    bool trusted = false;
    if (!CertGetCertificateChain(nullptr, leaf, nullptr, extra, &parameters, 0, nullptr, &chain)) {
      reason = SystemErrorText(GetLastError());
    } else {
      DWORD verdict = Verdict(chain, false);
      trusted = verdict == 0;
      if (!trusted && authority != nullptr) {
        if (EndsIn(chain, authority)) {
          verdict = Verdict(chain, true);
          trusted = verdict == 0;
        } else {
          reason = u"its chain does not lead to the authority in " + ca_file + u"; ";
        }
      }
      if (!trusted) reason += SystemErrorText(verdict);
      CertFreeCertificateChain(chain);
    }
    if (collection != nullptr) CertCloseStore(collection, 0);
    if (authority != nullptr) CertFreeCertificateContext(authority);
    return trusted;
  }

  // The SSL policy's verdict, and the chain's own trust status as well: Wine's policy passes
  // some chains that do not end in a trusted root. With `our_root`, the root is the caller's
  // authority, which the system does not know.
  DWORD Verdict(PCCERT_CHAIN_CONTEXT chain, bool our_root) {
    const DWORD policy = PolicyVerdict(chain, our_root ? kIgnoreUnknownCa : 0);
    if (policy != 0) return policy;
    DWORD errors = chain->TrustStatus.dwErrorStatus;
    if (our_root) errors &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
    if (errors & CERT_TRUST_IS_PARTIAL_CHAIN) return static_cast<DWORD>(CERT_E_CHAINING);
    if (errors & CERT_TRUST_IS_UNTRUSTED_ROOT) return static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
    if (errors & CERT_TRUST_IS_NOT_TIME_VALID) return static_cast<DWORD>(CERT_E_EXPIRED);
    if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) {
      return static_cast<DWORD>(TRUST_E_CERT_SIGNATURE);
    }
    if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return static_cast<DWORD>(CERT_E_WRONG_USAGE);
    return 0;
  }

  DWORD PolicyVerdict(PCCERT_CHAIN_CONTEXT chain, DWORD ignore) {
    std::u16string name = Utf8ToUtf16(host_);
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

  static bool EndsIn(PCCERT_CHAIN_CONTEXT chain, PCCERT_CONTEXT authority) {
    if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return false;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    const PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
    return root->cbCertEncoded == authority->cbCertEncoded &&
           std::equal(root->pbCertEncoded, root->pbCertEncoded + root->cbCertEncoded,
                      authority->pbCertEncoded);
  }

  TransportStatus SocketFailure(int code, std::u16string& error) {
    error = code == WSAETIMEDOUT ? u"The server did not answer in time" : SystemErrorText(code);
    const bool dropped = code == WSAECONNRESET || code == WSAECONNABORTED || code == WSAESHUTDOWN ||
                         code == WSAENOTCONN;
    return dropped ? TransportStatus::kClosed : TransportStatus::kFailed;
  }

  TransportStatus Closed(std::u16string& error) {
    error = u"The server closed the connection";
    return TransportStatus::kClosed;
  }

  bool Fail(std::u16string text, std::u16string& error) {
    error = std::move(text);
    Close();
    return false;
  }

  std::string host_;
  SOCKET socket_ = INVALID_SOCKET;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool has_credentials_ = false;
  bool has_context_ = false;
  std::function<bool()> cancelled_;
  SecPkgContext_StreamSizes sizes_{};
  std::vector<char> sealed_;  // received, not yet decrypted
  std::vector<char> plain_;   // decrypted, not yet handed out
};

}  // namespace

std::unique_ptr<Transport> MakeNetworkTransport() { return std::make_unique<SchannelTransport>(); }

}  // namespace mailsheaf
