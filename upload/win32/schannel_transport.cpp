// Winsock and Schannel through SSPI, both part of Windows. The socket never blocks: every wait
// for the server is select() in slices of at most 200 ms with the cancel check asked between
// them, so that a stop is heard whatever the server does (a blocking call's time-out could not
// be cut short); `timeout_ms` still bounds each wait. Schannel is told to leave the certificate
// to us (manual validation): certificate_check decides, unless a pinned fingerprint does.

// SCH_CREDENTIALS and TLS_PARAMETERS, which newer Windows take, are declared only with it.
#define SCHANNEL_USE_BLACKLISTS

// Sockets first, windows.h next, the security headers after it: each needs the one before.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <bcrypt.h>
#include <subauth.h>
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "base/text.h"
#include "base/win32/system_error.h"
#include "base/win32/wide.h"
#include "upload/certificate_fingerprint.h"
#include "upload/transport.h"
#include "upload/transport_words.h"
#include "upload/win32/certificate_check.h"
#include "upload/win32/security_words.h"

namespace mailsheaf {
namespace {

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;
constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
constexpr DWORD kOlderThanTls12 = SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1;
constexpr size_t kReadChunk = 16 * 1024 + 512;
constexpr long long kSliceMs = 200;
constexpr std::u16string_view kHandshaking = u"during the TLS handshake";
constexpr std::u16string_view kSending = u"while sending";
constexpr std::u16string_view kReceiving = u"while receiving";

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

// Empty where the certificate holds no name of that kind.
std::u16string NameString(PCCERT_CONTEXT leaf, DWORD type, DWORD flags, void* kind) {
  const DWORD size = CertGetNameStringW(leaf, type, flags, kind, nullptr, 0);
  if (size <= 1) return {};
  std::u16string name(size, u'\0');
  const DWORD written = CertGetNameStringW(leaf, type, flags, kind, WideBuffer(name), size);
  name.resize(written > 0 ? written - 1 : 0);
  return name;
}

int64_t UnixSeconds(const FILETIME& time) {
  constexpr int64_t kTicksTo1970 = 116444736000000000;  // 100 ns ticks since 1601
  const int64_t ticks = static_cast<int64_t>(
      (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return (ticks - kTicksTo1970) / 10000000;
}

void Describe(PCCERT_CONTEXT leaf, const Sha256Digest& digest, PeerCertificate& peer) {
  peer.known = true;
  peer.sha256 = FingerprintText(digest);
  // The first DNS subjectAltName, else the CN: where certificates have named their host.
  peer.subject = NameString(leaf, CERT_NAME_DNS_TYPE, 0, nullptr);
  peer.issuer = NameString(leaf, CERT_NAME_ATTR_TYPE, CERT_NAME_ISSUER_FLAG,
                           const_cast<char*>(szOID_COMMON_NAME));
  DWORD whole = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;  // as RFC 2253 orders it
  if (peer.issuer.empty()) {
    peer.issuer = NameString(leaf, CERT_NAME_RDN_TYPE, CERT_NAME_ISSUER_FLAG, &whole);
  }
  peer.not_before = UnixSeconds(leaf->pCertInfo->NotBefore);
  peer.not_after = UnixSeconds(leaf->pCertInfo->NotAfter);
}

// TLS 1.2 at least, 1.3 where the system has it. SCH_CREDENTIALS (Windows 10 1809 and later)
// says so by the protocols it turns off, leaving the system free to add newer ones; a system
// that refuses that structure (Windows 7 to 10 1803) gets SCHANNEL_CRED asking for TLS 1.2,
// the one protocol it can be asked for there that is not too old.
SECURITY_STATUS AcquireCredentials(CredHandle& handle) {
  TimeStamp expiry;
  const auto acquire = [&](void* data) {
    return AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W),
                                     SECPKG_CRED_OUTBOUND, nullptr, data, nullptr, nullptr, &handle,
                                     &expiry);
  };
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols =
      ~static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT);
  SCH_CREDENTIALS current{};
  current.dwVersion = SCH_CREDENTIALS_VERSION;
  current.dwFlags = kCredentialFlags;
  current.cTlsParameters = 1;
  current.pTlsParameters = &parameters;
  if (acquire(&current) == SEC_E_OK) return SEC_E_OK;
  SCHANNEL_CRED older{};
  older.dwVersion = SCHANNEL_CRED_VERSION;
  older.dwFlags = kCredentialFlags;
  older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  return acquire(&older);
}

class SchannelTransport final : public Transport {
 public:
  ~SchannelTransport() override { Close(); }

  void SetCancel(std::function<bool()> cancelled) override { cancelled_ = std::move(cancelled); }

  bool Connect(const std::string& host, uint16_t port, int timeout_ms,
               std::u16string& error) override {
    Close();
    host_ = host;
    timeout_ms_ = timeout_ms;
    peer_ = {};
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
    // The one wait that cannot be cut into slices: a stop is heard at the next one.
    const int lookup = GetAddrInfoW(WidePointer(wide_host), WidePointer(service), &hints, &found);
    if (lookup != 0) {
      error = u"Cannot find " + wide_host + u": " + SystemErrorText(static_cast<DWORD>(lookup));
      return false;
    }
    std::u16string why;
    bool timed_out = false;
    TransportStatus status = TransportStatus::kFailed;
    for (ADDRINFOW* a = found; a != nullptr && status == TransportStatus::kFailed;
         a = a->ai_next) {
      const SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
      if (s == INVALID_SOCKET) {
        why = SystemErrorText(WSAGetLastError());
        continue;
      }
      status = ConnectWithin(s, a->ai_addr, static_cast<int>(a->ai_addrlen), why, timed_out);
      if (status == TransportStatus::kOk) {
        socket_ = s;
      } else {
        closesocket(s);
      }
    }
    FreeAddrInfoW(found);
    if (status == TransportStatus::kOk) {
      const BOOL one = TRUE;
      setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                 sizeof one);
      return true;
    }
    error = status == TransportStatus::kStopped || timed_out
                ? why
                : u"Cannot connect to " + wide_host + u":" + service + u": " + why;
    return false;
  }

  bool StartTls(const TlsOptions& options, std::u16string& error) override {
    peer_ = {};
    Sha256Digest pinned{};
    const bool pin = !options.trust_certificate_sha256.empty();
    if (pin && !ParseFingerprint(options.trust_certificate_sha256, pinned)) {
      error = u"The certificate fingerprint to trust is not 32 bytes in hex";
      return false;
    }
    if (socket_ == INVALID_SOCKET || has_context_) {
      error = u"TLS can start only once, on an open connection";
      return false;
    }
    CertificateStore authorities;
    if (!options.ca_file.empty()) {
      authorities = ReadAuthorities(options.ca_file, error);
      if (authorities == nullptr) return Abandon();
    }
    const SECURITY_STATUS acquired = AcquireCredentials(credentials_);
    if (acquired != SEC_E_OK) {
      return Fail(u"TLS is not available: " + SecurityStatusText(acquired), error);
    }
    has_credentials_ = true;
    if (Handshake(error) != TransportStatus::kOk || !RecentEnough(error)) return Abandon();
    if (!CheckCertificate(pin ? &pinned : nullptr, authorities.get(), error)) return Abandon();
    const SECURITY_STATUS sized =
        QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (sized != SEC_E_OK) return Fail(u"TLS failure: " + SecurityStatusText(sized), error);
    return true;
  }

  PeerCertificate LastPeerCertificate() const override { return peer_; }

  TransportStatus WriteAll(const char* data, size_t size, std::u16string& error) override {
    if (socket_ == INVALID_SOCKET) return Closed(error);
    if (!has_context_) return PlainSend(data, size, kSending, error);
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
        error = u"TLS failure: " + SecurityStatusText(status);
        return TransportStatus::kFailed;
      }
      const TransportStatus sent =
          PlainSend(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer,
                    kSending, error);
      if (sent != TransportStatus::kOk) return sent;
      data += part;
      size -= part;
    }
    return TransportStatus::kOk;
  }

  TransportStatus ReadSome(char* buffer, size_t capacity, size_t& received,
                           std::u16string& error) override {
    received = 0;
    if (socket_ == INVALID_SOCKET) return Closed(error);
    if (!has_context_) return PlainReceive(buffer, capacity, received, kReceiving, error);
    while (plain_.empty()) {
      const TransportStatus status = DecryptSome(error);
      if (status != TransportStatus::kOk) return status;
    }
    received = std::min(capacity, plain_.size());
    std::copy(plain_.begin(), plain_.begin() + static_cast<std::ptrdiff_t>(received), buffer);
    plain_.erase(plain_.begin(), plain_.begin() + static_cast<std::ptrdiff_t>(received));
    return TransportStatus::kOk;
  }

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
  // Waits until `s` is ready to read or to write (or has failed, which the next call tells),
  // in slices between which the cancel check is asked. kStopped, or kFailed once `timeout_ms_`
  // has passed without the server, each with its words in `error`.
  TransportStatus Await(SOCKET s, bool writing, std::u16string_view stage,
                        std::u16string& error) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      if (cancelled_ && cancelled_()) {
        error = kStoppedText;
        return Ended(TransportStatus::kStopped);
      }
      long long slice = kSliceMs;
      if (timeout_ms_ > 0) {
        const long long waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count();
        if (waited >= timeout_ms_) {
          error = TimeoutText(host_, static_cast<int>(timeout_ms_), stage);
          return Ended(TransportStatus::kFailed);
        }
        slice = std::min(slice, timeout_ms_ - waited);
      }
      fd_set ready, failed;
      FD_ZERO(&ready);
      FD_ZERO(&failed);
      FD_SET(s, &ready);
      FD_SET(s, &failed);  // where a connection that could not be made shows
      timeval limit{0, static_cast<long>(slice * 1000)};
      const int count =
          select(0, writing ? nullptr : &ready, writing ? &ready : nullptr, &failed, &limit);
      if (count > 0) return TransportStatus::kOk;
      if (count == SOCKET_ERROR) return SocketFailure(WSAGetLastError(), error);
    }
  }

  TransportStatus Ended(TransportStatus status) {
    wait_ended_ = true;
    return status;
  }

  TransportStatus ConnectWithin(SOCKET s, const sockaddr* address, int length,
                                std::u16string& why, bool& timed_out) {
    timed_out = false;
    u_long nonblocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonblocking) != 0) {
      why = SystemErrorText(WSAGetLastError());
      return TransportStatus::kFailed;
    }
    if (::connect(s, address, length) == 0) return TransportStatus::kOk;
    const int code = WSAGetLastError();
    if (code != WSAEWOULDBLOCK) {
      why = SystemErrorText(code);
      return TransportStatus::kFailed;
    }
    const TransportStatus waited = Await(s, true, u"while connecting", why);
    if (waited != TransportStatus::kOk) {
      timed_out = waited == TransportStatus::kFailed;
      return waited;
    }
    int failure = 0;
    int size = sizeof failure;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &size) != 0) {
      failure = WSAGetLastError();
    }
    if (failure == 0) return TransportStatus::kOk;
    why = SystemErrorText(failure);
    return TransportStatus::kFailed;
  }

  TransportStatus PlainSend(const char* data, size_t size, std::u16string_view stage,
                            std::u16string& error) {
    while (size > 0) {
      const int sent = send(socket_, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
      if (sent != SOCKET_ERROR) {
        data += sent;
        size -= static_cast<size_t>(sent);
        continue;
      }
      const int code = WSAGetLastError();
      if (code != WSAEWOULDBLOCK) return SocketFailure(code, error);
      const TransportStatus waited = Await(socket_, true, stage, error);
      if (waited != TransportStatus::kOk) return waited;
    }
    return TransportStatus::kOk;
  }

  TransportStatus PlainReceive(char* buffer, size_t capacity, size_t& received,
                               std::u16string_view stage, std::u16string& error) {
    for (;;) {
      const int got =
          recv(socket_, buffer, static_cast<int>(std::min<size_t>(capacity, 1 << 20)), 0);
      if (got > 0) {
        received = static_cast<size_t>(got);
        return TransportStatus::kOk;
      }
      if (got == 0) return Closed(error);
      const int code = WSAGetLastError();
      if (code != WSAEWOULDBLOCK) return SocketFailure(code, error);
      const TransportStatus waited = Await(socket_, false, stage, error);
      if (waited != TransportStatus::kOk) return waited;
    }
  }

  // More of the server's bytes appended to sealed_.
  TransportStatus ReceiveSealed(std::u16string_view stage, std::u16string& error) {
    const size_t old_size = sealed_.size();
    sealed_.resize(old_size + kReadChunk);
    size_t got = 0;
    const TransportStatus status =
        PlainReceive(sealed_.data() + old_size, kReadChunk, got, stage, error);
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
        // TLS 1.3 sends its session tickets this way too.
        if (status == SEC_I_RENEGOTIATE) return Handshake(error);
        return TransportStatus::kOk;
      }
      if (status != SEC_E_INCOMPLETE_MESSAGE) {
        error = u"TLS failure: " + SecurityStatusText(status);
        return TransportStatus::kFailed;
      }
    }
    if (sealed_.size() >
        sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer + kReadChunk) {
      error = u"The server sent a TLS record larger than TLS allows";
      return TransportStatus::kFailed;
    }
    return ReceiveSealed(kReceiving, error);
  }

  // InitializeSecurityContext until the context is complete, with sealed_ as what the server
  // sent so far; what arrives past the handshake stays in sealed_. A wait that ended early
  // keeps its own words; anything else is said as the handshake's failure.
  TransportStatus Handshake(std::u16string& error) {
    const std::u16string target = Utf8ToUtf16(host_);
    SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
    bool first = !has_context_;
    wait_ended_ = false;
    const auto failed = [&](TransportStatus why) {
      if (!wait_ended_) error = u"TLS handshake with " + target + u" failed: " + error;
      return why;
    };
    while (true) {
      if (!first && (sealed_.empty() || status == SEC_E_INCOMPLETE_MESSAGE)) {
        const TransportStatus got = ReceiveSealed(kHandshaking, error);
        if (got != TransportStatus::kOk) return failed(got);
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
      const bool going = status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ||
                         status == SEC_I_INCOMPLETE_CREDENTIALS ||
                         status == SEC_E_INCOMPLETE_MESSAGE;
      if (out[0].cbBuffer > 0 && out[0].pvBuffer != nullptr) {
        // On a failure this is the alert that tells the server why: sent, if it goes at once.
        const TransportStatus sent =
            PlainSend(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer, kHandshaking,
                      error);
        FreeContextBuffer(out[0].pvBuffer);
        if (sent != TransportStatus::kOk && going) return failed(sent);
      }
      if (!going) {
        wait_ended_ = false;
        error = SecurityStatusText(static_cast<DWORD>(status));
        return failed(TransportStatus::kFailed);
      }
      if (status == SEC_E_INCOMPLETE_MESSAGE) continue;
      if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
        sealed_.erase(sealed_.begin(), sealed_.end() - in[1].cbBuffer);
      } else {
        sealed_.clear();
      }
      if (status == SEC_E_OK) return TransportStatus::kOk;
    }
  }

  // Wine (8.0) takes SCH_CREDENTIALS but not the protocols it turns off, and agrees on TLS 1.1
  // with a server that offers no more: an older protocol is refused here, whatever was asked.
  bool RecentEnough(std::u16string& error) {
    SecPkgContext_ConnectionInfo info{};
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK ||
        (info.dwProtocol & kOlderThanTls12) == 0) {
      return true;
    }
    error = u"TLS handshake with " + Utf8ToUtf16(host_) +
            u" failed: the server offers only TLS older than 1.2, which is no longer safe";
    return false;
  }

  bool CheckCertificate(const Sha256Digest* pinned, HCERTSTORE authorities,
                        std::u16string& error) {
    PCCERT_CONTEXT leaf = nullptr;
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &leaf) != SEC_E_OK ||
        leaf == nullptr) {
      error = u"The server showed no certificate";
      return false;
    }
    Sha256Digest digest{};
    std::u16string reason;
    bool trusted = false;
    const bool measured = Sha256(leaf->pbCertEncoded, leaf->cbCertEncoded, digest);
    if (measured) Describe(leaf, digest, peer_);
    if (!measured) {
      error = u"The server's certificate could not be measured";
    } else if (pinned != nullptr) {
      // The pin alone decides: a certificate the authorities pass is still not the one named.
      trusted = digest == *pinned;
      if (!trusted) error = PinMismatchText(host_, digest, *pinned);
    } else {
      trusted = CertificateTrusted(leaf, host_, authorities, reason, peer_.untrusted);
      if (!trusted) error = UntrustedCertificateText(host_, reason, digest);
    }
    CertFreeCertificateContext(leaf);
    return trusted;
  }

  TransportStatus SocketFailure(int code, std::u16string& error) {
    error = SystemErrorText(static_cast<DWORD>(code));
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
    return Abandon();
  }

  // Closed, `error` already said.
  bool Abandon() {
    Close();
    return false;
  }

  std::string host_;
  long long timeout_ms_ = 0;
  SOCKET socket_ = INVALID_SOCKET;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool has_credentials_ = false;
  bool has_context_ = false;
  bool wait_ended_ = false;  // the last wait ended by a stop or the time-out
  std::function<bool()> cancelled_;
  SecPkgContext_StreamSizes sizes_{};
  std::vector<char> sealed_;  // received, not yet decrypted
  std::vector<char> plain_;   // decrypted, not yet handed out
  PeerCertificate peer_;
};

}  // namespace

std::unique_ptr<Transport> MakeNetworkTransport() { return std::make_unique<SchannelTransport>(); }

}  // namespace mailsheaf
