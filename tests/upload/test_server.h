#pragma once
// The Dovecot the fixture started (dovecot-server.sh), as its server.txt describes it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "upload/imap_session.h"

namespace mailsheaf::upload_test {

struct TestServer {
  uint16_t imap_port = 0;
  uint16_t imaps_port = 0;
  std::string user;
  std::string small_quota_user;
  std::string password;
  std::u16string ca_file;    // in the platform's path form
  std::u16string ca_bundle;  // another authority, then that of ca_file
  std::string fingerprint;
  uint16_t silent_port = 0;      // takes connections, never answers nor reads
  uint16_t unanswered_port = 0;  // lets no connection finish
  uint16_t dns_only_port = 0;    // TLS with a certificate naming only DNS:localhost
};

// How the fixture's servers are set up (dovecot-server.sh): maildir with "/" and SPECIAL-USE;
// every folder below "INBOX." with "." and no SPECIAL-USE; mbox storage.
enum class Layout { kDefault, kPrefix, kMbox };
inline constexpr Layout kLayouts[] = {Layout::kDefault, Layout::kPrefix, Layout::kMbox};
const char* LayoutName(Layout layout);

// Read once; an empty result (no ports) when the fixture did not run.
const TestServer& Server(Layout layout = Layout::kDefault);
// The folder the fixture keeps that server in.
std::string ServerDir(Layout layout);

// The test server as the session reaches it; the CA trusted unless `untrusted`.
ImapServer Address(ImapSecurity security, bool untrusted = false,
                   Layout layout = Layout::kDefault);

// The name the tests reach the server by: 127.0.0.1 natively; "localhost" under Wine, whose SSL
// chain policy matches only a certificate's DNS names, not its IP addresses.
std::string TestHost();

// A Unix path in the platform's form: itself natively, through Wine's Z: drive on Windows.
std::string PlatformPath(const std::string& unix_path);

std::string Narrow(const std::u16string& text);

// A mailbox name no earlier run against the same server used.
std::u16string Fresh(std::u16string_view stem);

// A session connected and logged in (failures reported to the running test), whose append
// results are collected.
struct Session {
  explicit Session(ImapServer address = Address(ImapSecurity::kTls), ImapLimits limits = {},
                   const std::string& user = Server().user,
                   const std::string& password = Server().password);
  ImapSession imap;
  ImapError error;
  std::vector<AppendResult> results;
};

}  // namespace mailsheaf::upload_test
