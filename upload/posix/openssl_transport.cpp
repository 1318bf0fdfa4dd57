// Sockets and OpenSSL. The socket never blocks: every wait for the server is poll() in slices
// of at most 200 ms, with the cancel check asked between them, so that a stop is heard whatever
// the server does (a kernel time-out on a blocking call could not be cut short); `timeout_ms`
// still bounds each wait. OpenSSL's own socket BIO writes with write(), which raises SIGPIPE on
// a dropped connection and would end a program that did not ignore it: ours sends with
// MSG_NOSIGNAL, and tells OpenSSL to call again when the socket would block.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "base/text.h"
#include "upload/certificate_fingerprint.h"
#include "upload/transport.h"
#include "upload/transport_words.h"

namespace mailsheaf {
namespace {

constexpr int kSliceMs = 200;

std::u16string ErrnoText(int code) { return Utf8ToUtf16(std::strerror(code)); }

bool IsDrop(int code) {
  return code == EPIPE || code == ECONNRESET || code == ECONNABORTED || code == ENOTCONN;
}

// The oldest queued OpenSSL error in words, and the queue emptied.
std::u16string OpenSslErrorText(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return AsciiToUtf16(fallback);
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return Utf8ToUtf16(text);
}

bool IsIpAddress(const std::string& host) {
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), address) == 1 ||
         inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// Names may be held as BMPString or T61String as well as UTF8String.
std::u16string AsnText(const ASN1_STRING* text) {
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, text);
  if (length < 0) return {};
  std::u16string wide = Utf8ToUtf16(std::string_view(reinterpret_cast<char*>(utf8), length));
  OPENSSL_free(utf8);
  return wide;
}

std::u16string CommonName(const X509_NAME* name) {
  const int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  return at < 0 ? std::u16string()
                : AsnText(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
}

// RFC 2253's form, its non-ASCII letters left as they are rather than escaped.
std::u16string WholeName(const X509_NAME* name) {
  BIO* out = BIO_new(BIO_s_mem());
  if (out == nullptr) return {};
  X509_NAME_print_ex(out, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out, &data);
  std::u16string text = Utf8ToUtf16(std::string_view(data, static_cast<size_t>(size)));
  BIO_free(out);
  return text;
}

// Certificates have named their host among the subjectAltNames, not in the CN, for years.
std::u16string SubjectName(X509* leaf) {
  auto* names =
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(leaf, NID_subject_alt_name, nullptr, nullptr));
  std::u16string found;
  for (int i = 0; names != nullptr && i < sk_GENERAL_NAME_num(names) && found.empty(); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
    if (name->type == GEN_DNS) found = AsnText(name->d.dNSName);
  }
  GENERAL_NAMES_free(names);
  return found.empty() ? CommonName(X509_get_subject_name(leaf)) : found;
}

int64_t UnixSeconds(const ASN1_TIME* time) {
  std::tm parts{};
  return ASN1_TIME_to_tm(time, &parts) == 1 ? static_cast<int64_t>(timegm(&parts)) : 0;
}

// False when the certificate cannot be measured, which would leave nothing to pin.
bool Describe(X509* leaf, Sha256Digest& digest, PeerCertificate& peer) {
  unsigned int length = 0;
  if (X509_digest(leaf, EVP_sha256(), digest.data(), &length) != 1 || length != digest.size()) {
    return false;
  }
  peer.known = true;
  peer.sha256 = FingerprintText(digest);
  peer.subject = SubjectName(leaf);
  const X509_NAME* issuer = X509_get_issuer_name(leaf);
  peer.issuer = CommonName(issuer);
  if (peer.issuer.empty()) peer.issuer = WholeName(issuer);
  peer.not_before = UnixSeconds(X509_get0_notBefore(leaf));
  peer.not_after = UnixSeconds(X509_get0_notAfter(leaf));
  return true;
}

// OpenSSL's check stops at the chain's first fault: a certificate refused for want of a root
// was never held to its name and dates, and one that fails those is no case for a pin.
bool OnlyTheRootIsUnknown(long verdict, X509* leaf, const std::string& host, bool address) {
  const bool unknown_root = verdict == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT ||
                            verdict == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN ||
                            verdict == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY ||
                            verdict == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT;
  const bool names_host = address ? X509_check_ip_asc(leaf, host.c_str(), 0) == 1
                                  : X509_check_host(leaf, host.c_str(), 0, 0, nullptr) == 1;
  return unknown_root && names_host && X509_cmp_current_time(X509_get0_notBefore(leaf)) < 0 &&
         X509_cmp_current_time(X509_get0_notAfter(leaf)) > 0;
}

int SocketOf(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }

int BioWrite(BIO* bio, const char* data, int size) {
  BIO_clear_retry_flags(bio);
  ssize_t done;
  do {
    done = send(SocketOf(bio), data, static_cast<size_t>(size), MSG_NOSIGNAL);
  } while (done < 0 && errno == EINTR);
  if (done < 0 && WouldBlock()) BIO_set_retry_write(bio);
  return static_cast<int>(done);
}

int BioRead(BIO* bio, char* data, int size) {
  BIO_clear_retry_flags(bio);
  ssize_t done;
  do {
    done = recv(SocketOf(bio), data, static_cast<size_t>(size), 0);
  } while (done < 0 && errno == EINTR);
  if (done < 0 && WouldBlock()) BIO_set_retry_read(bio);
  return static_cast<int>(done);
}

long BioControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

const BIO_METHOD* SocketMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "mailsheaf socket");
    BIO_meth_set_write(m, BioWrite);
    BIO_meth_set_read(m, BioRead);
    BIO_meth_set_ctrl(m, BioControl);
    BIO_meth_set_create(m, BioCreate);
    return m;
  }();
  return method;
}

class OpenSslTransport final : public Transport {
 public:
  ~OpenSslTransport() override { Close(); }

  void SetCancel(std::function<bool()> cancelled) override { cancelled_ = std::move(cancelled); }

  bool Connect(const std::string& host, uint16_t port, int timeout_ms,
               std::u16string& error) override {
    Close();
    host_ = host;
    timeout_ms_ = timeout_ms;
    peer_ = {};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    // The one wait that cannot be cut into slices portably: a stop is heard at the next one.
    const int lookup = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (lookup != 0) {
      error = u"Cannot find " + Utf8ToUtf16(host) + u": " + Utf8ToUtf16(gai_strerror(lookup));
      return false;
    }
    std::u16string why;
    bool timed_out = false;
    TransportStatus status = TransportStatus::kFailed;
    for (addrinfo* a = found; a != nullptr && status == TransportStatus::kFailed; a = a->ai_next) {
      const int s =
          socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
      if (s < 0) {
        why = ErrnoText(errno);
        continue;
      }
      status = ConnectWithin(s, a->ai_addr, a->ai_addrlen, why, timed_out);
      if (status == TransportStatus::kOk) {
        socket_ = s;
      } else {
        ::close(s);
      }
    }
    freeaddrinfo(found);
    if (status == TransportStatus::kOk) {
      const int one = 1;
      setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return true;
    }
    error = status == TransportStatus::kStopped || timed_out
                ? why
                : u"Cannot connect to " + Utf8ToUtf16(host) + u":" + AsciiToUtf16(service) +
                      u": " + why;
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
    if (socket_ < 0 || ssl_ != nullptr) {
      error = u"TLS can start only once, on an open connection";
      return false;
    }
    ERR_clear_error();
    context_ = SSL_CTX_new(TLS_client_method());
    if (context_ == nullptr) return Fail(OpenSslErrorText("No TLS context"), error);
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(context_);
    if (!options.ca_file.empty() &&
        SSL_CTX_load_verify_locations(context_, Utf16ToUtf8(options.ca_file).c_str(), nullptr) !=
            1) {
      return Fail(u"Cannot read the certificate authorities in " + options.ca_file + u": " +
                      OpenSslErrorText("unreadable"),
                  error);
    }
    // The chain and the name are checked after the handshake, against the pin instead when
    // there is one; OpenSSL records its verdict either way.
    SSL_CTX_set_verify(context_, SSL_VERIFY_NONE, nullptr);
    ssl_ = SSL_new(context_);
    if (ssl_ == nullptr) return Fail(OpenSslErrorText("No TLS connection"), error);
    BIO* bio = BIO_new(SocketMethod());
    if (bio == nullptr) return Fail(OpenSslErrorText("No TLS connection"), error);
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(socket_)));
    SSL_set_bio(ssl_, bio, bio);
    const bool address = IsIpAddress(host_);
    if (address) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host_.c_str());
    } else {
      SSL_set_tlsext_host_name(ssl_, host_.c_str());
      SSL_set1_host(ssl_, host_.c_str());
    }
    for (;;) {
      ERR_clear_error();
      errno = 0;
      const int handshake = SSL_connect(ssl_);
      if (handshake == 1) break;
      const int code = SSL_get_error(ssl_, handshake);
      if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
        if (Await(socket_, Direction(code), u"during the TLS handshake", error) !=
            TransportStatus::kOk) {
          return Abandon();
        }
        continue;
      }
      const int saved = errno;
      std::u16string reason = OpenSslErrorText("");
      if (reason.empty()) reason = saved != 0 ? ErrnoText(saved) : u"the server ended it";
      return Fail(u"TLS handshake with " + Utf8ToUtf16(host_) + u" failed: " + reason, error);
    }
    X509* leaf = SSL_get1_peer_certificate(ssl_);
    Sha256Digest digest{};
    const bool measured = leaf != nullptr && Describe(leaf, digest, peer_);
    const long verdict = SSL_get_verify_result(ssl_);
    peer_.untrusted = measured && !pin && OnlyTheRootIsUnknown(verdict, leaf, host_, address);
    X509_free(leaf);
    if (!measured) return Fail(u"The server showed no certificate", error);
    if (pin) return digest == pinned || Fail(PinMismatchText(host_, digest, pinned), error);
    if (verdict == X509_V_OK) return true;
    return Fail(UntrustedCertificateText(host_, Utf8ToUtf16(X509_verify_cert_error_string(verdict)),
                                         digest),
                error);
  }

  PeerCertificate LastPeerCertificate() const override { return peer_; }

  TransportStatus WriteAll(const char* data, size_t size, std::u16string& error) override {
    if (socket_ < 0) return Closed(u"The connection is closed", error);
    while (size > 0) {
      size_t sent = 0;
      const TransportStatus status =
          ssl_ != nullptr ? TlsWrite(data, size, sent, error) : PlainWrite(data, size, sent, error);
      if (status != TransportStatus::kOk) {
        // Part of a record may be out: a goodbye after it would be taken as garbage.
        healthy_ = false;
        return status;
      }
      data += sent;
      size -= sent;
    }
    return TransportStatus::kOk;
  }

  TransportStatus ReadSome(char* buffer, size_t capacity, size_t& received,
                           std::u16string& error) override {
    received = 0;
    if (socket_ < 0) return Closed(u"The connection is closed", error);
    if (ssl_ != nullptr) {
      for (;;) {
        ERR_clear_error();
        errno = 0;
        if (SSL_read_ex(ssl_, buffer, capacity, &received) == 1) return TransportStatus::kOk;
        const int code = SSL_get_error(ssl_, 0);
        if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE) {
          return TlsFailure(code, error);
        }
        const TransportStatus waited = Await(socket_, Direction(code), kReceiving, error);
        if (waited != TransportStatus::kOk) return waited;
      }
    }
    for (;;) {
      const ssize_t got = recv(socket_, buffer, capacity, 0);
      if (got > 0) {
        received = static_cast<size_t>(got);
        return TransportStatus::kOk;
      }
      if (got == 0) return Closed(u"The server closed the connection", error);
      if (errno == EINTR) continue;
      if (!WouldBlock()) return SocketFailure(errno, error);
      const TransportStatus waited = Await(socket_, POLLIN, kReceiving, error);
      if (waited != TransportStatus::kOk) return waited;
    }
  }

  void Close() override {
    if (ssl_ != nullptr) {
      // Sent if the socket takes it at once; nobody waits for the server's own goodbye.
      if (healthy_) SSL_shutdown(ssl_);
      SSL_free(ssl_);
      ssl_ = nullptr;
      ERR_clear_error();
    }
    if (context_ != nullptr) {
      SSL_CTX_free(context_);
      context_ = nullptr;
    }
    if (socket_ >= 0) {
      ::close(socket_);
      socket_ = -1;
    }
    healthy_ = true;
  }

 private:
  static constexpr std::u16string_view kSending = u"while sending";
  static constexpr std::u16string_view kReceiving = u"while receiving";

  static short Direction(int want) { return want == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT; }

  // Waits until `s` is ready for `events` (or in error, which the next call tells), in slices
  // between which the cancel check is asked. kStopped, or kFailed once `timeout_ms_` has passed
  // without the server, each with its words in `error`.
  TransportStatus Await(int s, short events, std::u16string_view stage, std::u16string& error) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      if (cancelled_ && cancelled_()) {
        error = kStoppedText;
        return TransportStatus::kStopped;
      }
      long long slice = kSliceMs;
      if (timeout_ms_ > 0) {
        const long long waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count();
        if (waited >= timeout_ms_) {
          healthy_ = false;
          error = TimeoutText(host_, timeout_ms_, stage);
          return TransportStatus::kFailed;
        }
        slice = std::min(slice, timeout_ms_ - waited);
      }
      pollfd ready{s, events, 0};
      const int count = poll(&ready, 1, static_cast<int>(slice));
      if (count > 0) return TransportStatus::kOk;
      if (count < 0 && errno != EINTR) return SocketFailure(errno, error);
    }
  }

  TransportStatus ConnectWithin(int s, const sockaddr* address, socklen_t length,
                                std::u16string& why, bool& timed_out) {
    timed_out = false;
    if (::connect(s, address, length) == 0) return TransportStatus::kOk;
    if (errno != EINPROGRESS && errno != EINTR) {
      why = ErrnoText(errno);
      return TransportStatus::kFailed;
    }
    const TransportStatus waited = Await(s, POLLOUT, u"while connecting", why);
    if (waited != TransportStatus::kOk) {
      timed_out = waited == TransportStatus::kFailed;
      return waited;
    }
    int code = 0;
    socklen_t size = sizeof code;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &code, &size) != 0) code = errno;
    if (code == 0) return TransportStatus::kOk;
    why = ErrnoText(code);
    return TransportStatus::kFailed;
  }

  TransportStatus PlainWrite(const char* data, size_t size, size_t& sent, std::u16string& error) {
    for (;;) {
      const ssize_t done = send(socket_, data, size, MSG_NOSIGNAL);
      if (done >= 0) {
        sent = static_cast<size_t>(done);
        return TransportStatus::kOk;
      }
      if (errno == EINTR) continue;
      if (!WouldBlock()) return SocketFailure(errno, error);
      const TransportStatus waited = Await(socket_, POLLOUT, kSending, error);
      if (waited != TransportStatus::kOk) return waited;
    }
  }

  // OpenSSL asks to be called again with the same bytes after a wait; it then writes them all.
  TransportStatus TlsWrite(const char* data, size_t size, size_t& sent, std::u16string& error) {
    for (;;) {
      ERR_clear_error();
      errno = 0;
      if (SSL_write_ex(ssl_, data, size, &sent) == 1) return TransportStatus::kOk;
      const int code = SSL_get_error(ssl_, 0);
      if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE) {
        return TlsFailure(code, error);
      }
      const TransportStatus waited = Await(socket_, Direction(code), kSending, error);
      if (waited != TransportStatus::kOk) return waited;
    }
  }

  TransportStatus TlsFailure(int code, std::u16string& error) {
    healthy_ = false;
    if (code == SSL_ERROR_ZERO_RETURN) return Closed(u"The server closed the connection", error);
    if (code == SSL_ERROR_SYSCALL) {
      const int saved = errno;
      const std::u16string queued = OpenSslErrorText("");
      if (!queued.empty()) {
        error = queued;
        return TransportStatus::kFailed;
      }
      if (saved == 0) return Closed(u"The server closed the connection", error);
      return SocketFailure(saved, error);
    }
    error = u"TLS failure: " + OpenSslErrorText("unknown");
    return TransportStatus::kFailed;
  }

  TransportStatus SocketFailure(int code, std::u16string& error) {
    healthy_ = false;
    if (IsDrop(code)) return Closed(ErrnoText(code), error);
    error = ErrnoText(code);
    return TransportStatus::kFailed;
  }

  TransportStatus Closed(std::u16string text, std::u16string& error) {
    healthy_ = false;
    error = std::move(text);
    return TransportStatus::kClosed;
  }

  bool Fail(std::u16string text, std::u16string& error) {
    error = std::move(text);
    return Abandon();
  }

  // Closed without a goodbye, `error` already said.
  bool Abandon() {
    healthy_ = false;
    Close();
    return false;
  }

  std::string host_;
  long long timeout_ms_ = 0;
  int socket_ = -1;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  bool healthy_ = true;
  std::function<bool()> cancelled_;
  PeerCertificate peer_;
};

}  // namespace

std::unique_ptr<Transport> MakeNetworkTransport() { return std::make_unique<OpenSslTransport>(); }

}  // namespace mailsheaf
