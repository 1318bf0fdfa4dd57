#include <cstdlib>

#include "tests/upload/test_server.h"

namespace mailsheaf::upload_test {

std::string TestHost() { return "127.0.0.1"; }

std::string PlatformPath(const std::string& unix_path) { return unix_path; }

bool KillServingProcesses(const std::string& user) {
  const std::string command = std::string("bash '") + MAILSHEAF_DOVECOT_SCRIPT + "' kill-imap '" +
                              MAILSHEAF_DOVECOT_DIR + "' '" + user + "'";
  return std::system(command.c_str()) == 0;
}

}  // namespace mailsheaf::upload_test
