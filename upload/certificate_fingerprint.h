#pragma once
// The SHA-256 fingerprint by which a user pins one server certificate, and the refusal text
// that shows it to them. Shared by both platforms' transports.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace mailsheaf {

using Sha256Digest = std::array<uint8_t, 32>;

// Hex digits, with or without colons between the pairs, in any case. False for anything else.
bool ParseFingerprint(std::string_view text, Sha256Digest& digest);

// "AB:CD:...", the form certificate viewers and `openssl x509 -fingerprint` show.
std::string FingerprintText(const Sha256Digest& digest);

// Whether `pinned` (as the user wrote it) names the certificate with this digest.
bool PinnedFingerprintMatches(std::string_view pinned, const Sha256Digest& digest);

// Why a certificate was refused, naming the host and its fingerprint, so that a user who
// knows it can pin it.
std::u16string UntrustedCertificateText(const std::string& host, const std::u16string& reason,
                                        const Sha256Digest& digest);

// Why a certificate was refused when the user pinned another: a pin accepts that certificate
// and no other, whoever signed it.
std::u16string PinMismatchText(const std::string& host, const Sha256Digest& digest,
                               const Sha256Digest& pinned);

}  // namespace mailsheaf
