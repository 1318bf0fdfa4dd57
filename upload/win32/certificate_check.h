#pragma once
// The Windows transport's certificate check, which Schannel leaves to us (manual validation):
// the chain against the system's roots and the caller's CA file, and the host's name or
// address against the certificate's.

#include <windows.h>

#include <wincrypt.h>

#include <memory>
#include <string>

namespace mailsheaf {

struct StoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using CertificateStore = std::unique_ptr<void, StoreCloser>;

// Every certificate of a PEM file (a bundle of authorities as OpenSSL reads it), or the one of a
// DER file, in a store of their own; null with the reason in `error` when none can be read.
CertificateStore ReadAuthorities(const std::u16string& path, std::u16string& error);

// Whether the server's certificate (`leaf`, with what the server sent besides in its store)
// is trusted for `host`: its chain ends in a root the system trusts or in one of `authorities`
// (null for none), the SSL policy passes it, and it names the host (an IP address among its
// addresses). Else false with the reason in words, and `only_root_unknown` true when no other
// fault than a root nobody here trusts was found: the case a person may answer with a pin.
bool CertificateTrusted(PCCERT_CONTEXT leaf, const std::string& host, HCERTSTORE authorities,
                        std::u16string& reason, bool& only_root_unknown);

}  // namespace mailsheaf
