#include "tests/upload/test_server.h"

namespace mailsheaf::upload_test {

std::string TestHost() { return "localhost"; }

std::string PlatformPath(const std::string& unix_path) {
  std::string path = "Z:" + unix_path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// Wine cannot reach Dovecot's processes.
bool KillServingProcesses(const std::string&) { return false; }

}  // namespace mailsheaf::upload_test
