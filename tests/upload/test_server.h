#pragma once
// The Dovecot the fixture started (dovecot-server.sh), as its server.txt describes it.

#include <cstdint>
#include <string>

#include "upload/imap_session.h"

namespace mailsheaf::upload_test {

struct TestServer {
  uint16_t imap_port = 0;
  uint16_t imaps_port = 0;
  std::string user;
  std::string small_quota_user;
  std::string password;
  std::u16string ca_file;  // in the platform's path form
  std::string fingerprint;
};

// Read once; an empty result (no ports) when the fixture did not run.
const TestServer& Server();

// The test server as the session reaches it; the CA trusted unless `untrusted`.
ImapServer Address(ImapSecurity security, bool untrusted = false);

// The name the tests reach the server by: 127.0.0.1 natively; "localhost" under Wine, whose SSL
// chain policy matches only a certificate's DNS names, not its IP addresses.
std::string TestHost();

// A Unix path in the platform's form: itself natively, through Wine's Z: drive on Windows.
std::string PlatformPath(const std::string& unix_path);

// Ends, with SIGKILL, the imap processes serving `user`. False where the platform cannot.
bool KillServingProcesses(const std::string& user);

}  // namespace mailsheaf::upload_test
