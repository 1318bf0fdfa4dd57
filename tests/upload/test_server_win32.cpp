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

}  // namespace mailsheaf::upload_test
