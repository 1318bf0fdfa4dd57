#include "tests/upload/test_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>

#include "base/text.h"

namespace mailsheaf::upload_test {

const char* LayoutName(Layout layout) {
  switch (layout) {
    case Layout::kDefault:
      return "default";
    case Layout::kPrefix:
      return "prefix";
    case Layout::kMbox:
      return "mbox";
  }
  return "";
}

std::string ServerDir(Layout layout) {
  const std::string dir = MAILSHEAF_DOVECOT_DIR;
  return layout == Layout::kDefault ? dir : dir + "-" + LayoutName(layout);
}

static TestServer ReadServer(Layout layout) {
  std::map<std::string, std::string> values;
  std::ifstream file(PlatformPath(ServerDir(layout) + "/server.txt"));
  for (std::string line; std::getline(file, line);) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  TestServer s;
  s.imap_port = static_cast<uint16_t>(std::stoi("0" + values["imap_port"]));
  s.imaps_port = static_cast<uint16_t>(std::stoi("0" + values["imaps_port"]));
  s.user = values["user"];
  s.small_quota_user = values["small_quota_user"];
  s.password = values["password"];
  s.ca_file = Utf8ToUtf16(PlatformPath(values["ca_file"]));
  s.ca_bundle = Utf8ToUtf16(PlatformPath(values["ca_bundle"]));
  s.fingerprint = values["fingerprint"];
  s.silent_port = static_cast<uint16_t>(std::stoi("0" + values["silent_port"]));
  s.unanswered_port = static_cast<uint16_t>(std::stoi("0" + values["unanswered_port"]));
  s.dns_only_port = static_cast<uint16_t>(std::stoi("0" + values["dns_only_port"]));
  return s;
}

const TestServer& Server(Layout layout) {
  static const TestServer servers[] = {ReadServer(Layout::kDefault), ReadServer(Layout::kPrefix),
                                       ReadServer(Layout::kMbox)};
  return servers[static_cast<int>(layout)];
}

ImapServer Address(ImapSecurity security, bool untrusted, Layout layout) {
  ImapServer address;
  address.host = TestHost();
  address.port =
      security == ImapSecurity::kTls ? Server(layout).imaps_port : Server(layout).imap_port;
  address.security = security;
  if (!untrusted) address.tls.ca_file = Server(layout).ca_file;
  address.timeout_ms = 20000;
  return address;
}

std::string Narrow(const std::u16string& text) { return Utf16ToUtf8(text); }

std::u16string Fresh(std::u16string_view stem) {
  static int count = 0;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return std::u16string(stem) + u" " + DecimalText(now % 1000000007) + u"-" + DecimalText(++count);
}

Session::Session(ImapServer address, ImapLimits limits, const std::string& user,
                 const std::string& password)
    : imap(MakeNetworkTransport(), limits) {
  imap.SetAppendDone([this](const AppendResult& r) { results.push_back(r); });
  EXPECT_TRUE(imap.Connect(address, error)) << Narrow(error.text);
  EXPECT_TRUE(imap.Login(user, password, error)) << Narrow(error.text);
}

}  // namespace mailsheaf::upload_test
