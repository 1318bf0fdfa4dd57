#include "cli/imap_address.h"

#include "base/text.h"

namespace mailsheaf {

bool ParseImapAddress(const std::u16string& address, ImapServer& server, std::u16string& error) {
  static const struct {
    const char16_t* scheme;
    ImapSecurity security;
    uint16_t port;
  } kSchemes[] = {{u"imaps://", ImapSecurity::kTls, 993},
                  {u"imap://", ImapSecurity::kStartTls, 143},
                  {u"imap+plain://", ImapSecurity::kPlain, 143}};
  for (const auto& scheme : kSchemes) {
    const std::u16string_view prefix = scheme.scheme;
    if (address.size() < prefix.size() || Utf16ToUtf8(address.substr(0, prefix.size())) !=
                                              Utf16ToUtf8(prefix)) {
      continue;
    }
    std::u16string rest = address.substr(prefix.size());
    if (!rest.empty() && rest.back() == u'/') rest.pop_back();
    server.security = scheme.security;
    server.port = scheme.port;
    size_t host_end = rest.size();
    if (!rest.empty() && rest[0] == u'[') {  // [::1]:993
      host_end = rest.find(u']');
      if (host_end == std::u16string::npos) break;
      server.host = Utf16ToUtf8(rest.substr(1, host_end - 1));
      ++host_end;
    } else {
      host_end = rest.find(u':');
      if (host_end == std::u16string::npos) host_end = rest.size();
      server.host = Utf16ToUtf8(rest.substr(0, host_end));
    }
    if (server.host.empty() || server.host.find_first_of("/@?#") != std::string::npos) break;
    if (host_end < rest.size()) {
      if (rest[host_end] != u':' || host_end + 1 == rest.size() || rest.size() - host_end > 6) break;
      unsigned port = 0;
      for (char16_t c : rest.substr(host_end + 1)) {
        if (c < u'0' || c > u'9') {
          port = 0;
          break;
        }
        port = port * 10 + (c - u'0');
      }
      if (port == 0 || port > 65535) break;
      server.port = static_cast<uint16_t>(port);
    }
    return true;
  }
  error = u"the account's address must be imaps://HOST[:PORT], imap://HOST[:PORT] or "
          u"imap+plain://HOST[:PORT], not " + address;
  return false;
}

}  // namespace mailsheaf
