#include "upload/certificate_fingerprint.h"

#include "base/text.h"

namespace mailsheaf {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseFingerprint(std::string_view text, Sha256Digest& digest) {
  const bool colons = text.find(':') != std::string_view::npos;
  size_t at = 0;
  for (size_t i = 0; i < digest.size(); ++i) {
    if (colons && i > 0) {
      if (at >= text.size() || text[at] != ':') return false;
      ++at;
    }
    if (at + 2 > text.size()) return false;
    const int high = HexValue(text[at]);
    const int low = HexValue(text[at + 1]);
    if (high < 0 || low < 0) return false;
    digest[i] = static_cast<uint8_t>(high * 16 + low);
    at += 2;
  }
  return at == text.size();
}

std::string FingerprintText(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : digest) {
    if (!text.empty()) text += ':';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

bool PinnedFingerprintMatches(std::string_view pinned, const Sha256Digest& digest) {
  Sha256Digest wanted{};
  return !pinned.empty() && ParseFingerprint(pinned, wanted) && wanted == digest;
}

std::u16string UntrustedCertificateText(const std::string& host, const std::u16string& reason,
                                        const Sha256Digest& digest) {
  return u"The certificate of " + Utf8ToUtf16(host) + u" is not trusted (" + reason +
         u"); its SHA-256 fingerprint is " + AsciiToUtf16(FingerprintText(digest));
}

std::u16string PinMismatchText(const std::string& host, const Sha256Digest& digest,
                               const Sha256Digest& pinned) {
  return u"The certificate of " + Utf8ToUtf16(host) + u" has the SHA-256 fingerprint " +
         AsciiToUtf16(FingerprintText(digest)) + u", not the one given to trust (" +
         AsciiToUtf16(FingerprintText(pinned)) + u")";
}

}  // namespace mailsheaf
