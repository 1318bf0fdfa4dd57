// Sockets and OpenSSL. Reads and writes wait in the kernel with SO_RCVTIMEO/SO_SNDTIMEO as
// the bound. OpenSSL's own socket BIO writes with write(), which raises SIGPIPE on a dropped
// connection and would end a program that did not ignore it: ours sends with MSG_NOSIGNAL.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/text.h"
#include "upload/certificate_fingerprint.h"
#include "upload/transport.h"

namespace mailsheaf {
namespace {

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

bool LeafDigest(SSL* ssl, Sha256Digest& digest) {
  X509* leaf = SSL_get1_peer_certificate(ssl);
  if (leaf == nullptr) return false;
  unsigned int length = 0;
  const bool ok =
      X509_digest(leaf, EVP_sha256(), digest.data(), &length) == 1 && length == digest.size();
  X509_free(leaf);
  return ok;
}

int SocketOf(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

int BioWrite(BIO* bio, const char* data, int size) {
  ssize_t done;
  do {
    done = send(SocketOf(bio), data, static_cast<size_t>(size), MSG_NOSIGNAL);
  } while (done < 0 && errno == EINTR);
  return static_cast<int>(done);
}

int BioRead(BIO* bio, char* data, int size) {
  ssize_t done;
  do {
    done = recv(SocketOf(bio), data, static_cast<size_t>(size), 0);
  } while (done < 0 && errno == EINTR);
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

  bool Connect(const std::string& host, uint16_t port, int timeout_ms,
               std::u16string& error) override {
    Close();
    host_ = host;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int lookup = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (lookup != 0) {
      error = u"Cannot find " + Utf8ToUtf16(host) + u": " + Utf8ToUtf16(gai_strerror(lookup));
      return false;
    }
    int last = 0;
    for (addrinfo* a = found; a != nullptr && socket_ < 0; a = a->ai_next) {
      const int s = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
      if (s < 0) {
        last = errno;
        continue;
      }
      if (ConnectWithin(s, a->ai_addr, a->ai_addrlen, timeout_ms, last)) {
        socket_ = s;
      } else {
        ::close(s);
      }
    }
    freeaddrinfo(found);
    if (socket_ < 0) {
      error = u"Cannot connect to " + Utf8ToUtf16(host) + u":" + AsciiToUtf16(service) + u": " +
              ErrnoText(last);
      return false;
    }
    const int one = 1;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (timeout_ms > 0) {
      const timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
      setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
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
    // The chain and the name are checked after the handshake, where a pinned certificate can
    // still be accepted; OpenSSL records its verdict either way.
    SSL_CTX_set_verify(context_, SSL_VERIFY_NONE, nullptr);
    ssl_ = SSL_new(context_);
    if (ssl_ == nullptr) return Fail(OpenSslErrorText("No TLS connection"), error);
    BIO* bio = BIO_new(SocketMethod());
    if (bio == nullptr) return Fail(OpenSslErrorText("No TLS connection"), error);
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(socket_)));
    SSL_set_bio(ssl_, bio, bio);
    if (IsIpAddress(host_)) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host_.c_str());
    } else {
      SSL_set_tlsext_host_name(ssl_, host_.c_str());
      SSL_set1_host(ssl_, host_.c_str());
    }
    const int handshake = SSL_connect(ssl_);
    if (handshake != 1) {
      const int saved = errno;
      std::u16string reason = OpenSslErrorText("");
      if (reason.empty()) reason = saved != 0 ? ErrnoText(saved) : u"the server ended it";
      return Fail(u"TLS handshake with " + Utf8ToUtf16(host_) + u" failed: " + reason, error);
    }
    Sha256Digest digest{};
    if (!LeafDigest(ssl_, digest)) return Fail(u"The server showed no certificate", error);
    const long verdict = SSL_get_verify_result(ssl_);
    if (verdict == X509_V_OK ||
        PinnedFingerprintMatches(options.trust_certificate_sha256, digest)) {
      return true;
    }
    return Fail(UntrustedCertificateText(host_, Utf8ToUtf16(X509_verify_cert_error_string(verdict)),
                                         digest),
                error);
  }

  TransportStatus WriteAll(const char* data, size_t size, std::u16string& error) override {
    while (size > 0) {
      size_t sent = 0;
      const TransportStatus status =
          ssl_ != nullptr ? TlsWrite(data, size, sent, error) : PlainWrite(data, size, sent, error);
      if (status != TransportStatus::kOk) return status;
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
      ERR_clear_error();
      errno = 0;
      const int got = SSL_read_ex(ssl_, buffer, capacity, &received) == 1 ? 1 : 0;
      if (got == 1) return TransportStatus::kOk;
      return TlsFailure(SSL_get_error(ssl_, 0), error);
    }
    for (;;) {
      const ssize_t got = recv(socket_, buffer, capacity, 0);
      if (got > 0) {
        received = static_cast<size_t>(got);
        return TransportStatus::kOk;
      }
      if (got == 0) return Closed(u"The server closed the connection", error);
      if (errno == EINTR) continue;
      return SocketFailure(errno, error);
    }
  }

  void SetCancel(std::function<bool()> cancelled) override { cancelled_ = std::move(cancelled); }

  void Close() override {
    if (ssl_ != nullptr) {
      if (healthy_) SSL_shutdown(ssl_);
      SSL_free(ssl_);
      ssl_ = nullptr;
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
  static bool ConnectWithin(int s, const sockaddr* address, socklen_t length, int timeout_ms,
                            int& code) {
    if (timeout_ms <= 0) {
      if (::connect(s, address, length) == 0) return true;
      code = errno;
      return false;
    }
    const int flags = fcntl(s, F_GETFL);
    fcntl(s, F_SETFL, flags | O_NONBLOCK);
    bool ok = ::connect(s, address, length) == 0;
    if (!ok && errno == EINPROGRESS) {
      pollfd wait{s, POLLOUT, 0};
      const int ready = poll(&wait, 1, timeout_ms);
      socklen_t size = sizeof code;
      if (ready == 1 && getsockopt(s, SOL_SOCKET, SO_ERROR, &code, &size) == 0) {
        ok = code == 0;
      } else {
        code = ready == 0 ? ETIMEDOUT : errno;
      }
    } else if (!ok) {
      code = errno;
    }
    fcntl(s, F_SETFL, flags);
    return ok;
  }

  TransportStatus PlainWrite(const char* data, size_t size, size_t& sent, std::u16string& error) {
    for (;;) {
      const ssize_t done = send(socket_, data, size, MSG_NOSIGNAL);
      if (done >= 0) {
        sent = static_cast<size_t>(done);
        return TransportStatus::kOk;
      }
      if (errno == EINTR) continue;
      return SocketFailure(errno, error);
    }
  }

  TransportStatus TlsWrite(const char* data, size_t size, size_t& sent, std::u16string& error) {
    ERR_clear_error();
    errno = 0;
    if (SSL_write_ex(ssl_, data, size, &sent) == 1) return TransportStatus::kOk;
    return TlsFailure(SSL_get_error(ssl_, 0), error);
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
    if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
      error = u"The server did not answer in time";
      return TransportStatus::kFailed;
    }
    error = u"TLS failure: " + OpenSslErrorText("unknown");
    return TransportStatus::kFailed;
  }

  TransportStatus SocketFailure(int code, std::u16string& error) {
    healthy_ = false;
    if (IsDrop(code)) return Closed(ErrnoText(code), error);
    error = code == EAGAIN || code == EWOULDBLOCK ? u"The server did not answer in time"
                                                  : ErrnoText(code);
    return TransportStatus::kFailed;
  }

  TransportStatus Closed(std::u16string text, std::u16string& error) {
    healthy_ = false;
    error = std::move(text);
    return TransportStatus::kClosed;
  }

  bool Fail(std::u16string text, std::u16string& error) {
    healthy_ = false;
    error = std::move(text);
    Close();
    return false;
  }

  std::string host_;
  int socket_ = -1;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  bool healthy_ = true;
  std::function<bool()> cancelled_;
};

}  // namespace

std::unique_ptr<Transport> MakeNetworkTransport() { return std::make_unique<OpenSslTransport>(); }

}  // namespace mailsheaf
