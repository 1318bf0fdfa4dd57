#include "tests/upload/test_server.h"

namespace mailsheaf::upload_test {

std::string TestHost() { return "127.0.0.1"; }

std::string PlatformPath(const std::string& unix_path) { return unix_path; }

}  // namespace mailsheaf::upload_test
