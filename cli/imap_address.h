#pragma once
// The account's address as the user writes it: imaps://HOST[:PORT] (TLS from the start, port
// 993), imap://HOST[:PORT] (STARTTLS, port 143) or imap+plain://HOST[:PORT] (no encryption at
// all, only when asked for by this name).

#include <string>

#include "upload/imap_session.h"

namespace mailsheaf {

// False with the reason when `address` is none of the forms above.
bool ParseImapAddress(const std::u16string& address, ImapServer& server, std::u16string& error);

}  // namespace mailsheaf
