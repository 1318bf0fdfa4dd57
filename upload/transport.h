#pragma once
// The upload's one door to the network: a TCP connection that can turn into TLS. OpenSSL
// natively, Schannel in the Windows build; the session above it sees only this. Failures show
// in return values with the system's words in `error`; nothing is thrown.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace mailsheaf {

struct TlsOptions {
  // A PEM file of certificate authorities trusted besides the system's own; empty for none.
  std::u16string ca_file;
  // The SHA-256 fingerprint of the one server certificate to accept whatever its chain and
  // name say, and no other: with it, a certificate the authorities pass is refused too. Hex,
  // with or without colons, in any case. Empty for none.
  std::string trust_certificate_sha256;
};

// The server certificate a handshake met, for a person asked whether to trust one the system
// does not: what they need to recognise it and what they would be pinning.
struct PeerCertificate {
  bool known = false;      // false when no handshake got as far as a certificate
  std::string sha256;      // "AB:CD:...", as FingerprintText gives it, for a pin
  std::u16string subject;  // its first DNS subjectAltName, else its CN
  std::u16string issuer;   // the issuer's CN, else the issuer's whole name
  int64_t not_before = 0;  // seconds since 1970 UTC
  int64_t not_after = 0;
  // Refused only because no trusted authority vouches for it (self-signed, an unknown CA),
  // while it names the host and is in date: the one refusal a person may answer with a pin.
  // False for a certificate accepted, or refused for its name, its dates or a pin it misses.
  bool untrusted = false;
};

// What a read or write found, beyond the bytes.
enum class TransportStatus {
  kOk,
  kClosed,  // the peer ended the connection, or it was reset
  kFailed,   // anything else (a time-out, a TLS failure, a refused certificate)
  kStopped,  // the cancel check said so while it waited
};

class Transport {
 public:
  virtual ~Transport() = default;

  // Asked at least every 200 ms while Connect, StartTls, WriteAll or ReadSome waits, so that a
  // stop is heard however the server behaves: when it says true the wait ends at once (false,
  // or kStopped), with the words "Stopped" in `error`. Harmless to leave unset.
  virtual void SetCancel(std::function<bool()> cancelled) = 0;

  // Connects to the first of the host's addresses that answers. `timeout_ms` bounds each wait
  // for the server, the connection's and every later one; a wait that runs out says in `error`
  // what it waited for. 0 waits as long as the system does.
  virtual bool Connect(const std::string& host, uint16_t port, int timeout_ms,
                       std::u16string& error) = 0;
  // The TLS handshake on the open connection, then the server certificate's check against
  // the host name given to Connect (an address against the certificate's addresses), or
  // against the pin alone. A certificate it refuses is named in `error` by the host and its
  // fingerprint.
  virtual bool StartTls(const TlsOptions& options, std::u16string& error) = 0;
  // The certificate the last StartTls since Connect met, accepted or refused; nothing known
  // before one.
  virtual PeerCertificate LastPeerCertificate() const = 0;
  virtual TransportStatus WriteAll(const char* data, size_t size, std::u16string& error) = 0;
  // At least one byte and at most `capacity` into `buffer` (the count in `received`), waiting
  // for them.
  virtual TransportStatus ReadSome(char* buffer, size_t capacity, size_t& received,
                                   std::u16string& error) = 0;
  // Ends the connection (a TLS goodbye first, when it is still healthy). Harmless twice.
  virtual void Close() = 0;
};

// The platform's transport.
std::unique_ptr<Transport> MakeNetworkTransport();

}  // namespace mailsheaf
