#pragma once
// A scripted IMAP server behind the transport seam, for what the real servers here do not
// show: Courier's refusal to append to a mailbox open read-only, greetings of PREAUTH and BYE,
// no STARTTLS, no SASL-IR, MULTIAPPEND or UIDPLUS, floods, stalls, dropped connections. It
// keeps its mailboxes in memory and answers as RFC 3501 says, no more.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "upload/transport.h"

namespace mailsheaf::upload_test {

struct FakeMessage {
  uint32_t uid = 0;
  std::string bytes;
  std::string flags;  // "\\Seen" or empty
  std::string date;   // as APPEND gave it
};

struct FakeMailbox {
  std::string special_use;  // "\\Sent"...
  uint32_t uid_validity = 7;
  uint32_t uid_next = 1;
  std::vector<FakeMessage> messages;
};

class FakeImapServer {
 public:
  // What it offers and how it behaves; change before connecting.
  std::string capabilities = "IMAP4rev1 LITERAL+ SASL-IR AUTH=PLAIN UIDPLUS MULTIAPPEND "
                             "NAMESPACE UNSELECT";
  std::string greeting = "* OK fake ready";
  std::string prefix;     // the personal namespace's
  char delimiter = '/';
  bool read_only_refuses_append = false;  // Courier
  // Sent after the OK of STARTTLS, in the same packet.
  std::string after_starttls;
  // Answers the Nth APPEND command (counting from 1) with this instead of storing; "" never.
  std::function<std::string(int append, const std::string& mailbox)> append_answer;
  // Extra untagged lines sent before the answer to UID FETCH 1:*.
  size_t fetch_flood = 0;
  // Drops the connection instead of answering a command for which this says true.
  std::function<bool(const std::string& command)> drop;
  // Sends these bytes instead of the answer to a command, where it gives any.
  std::function<std::string(const std::string& command)> garble;
  // Stops answering anything once this says true (the connection stays open).
  std::function<bool(const std::string& command)> stall;

  std::map<std::string, FakeMailbox> mailboxes{{"INBOX", {}}};
  std::vector<std::string> commands;  // every command line received, literals left out
  int connections = 0;
  int appends = 0;  // APPEND commands received

  // A transport for one new connection to this server.
  std::unique_ptr<Transport> Connect();
  // The Inbox's and every mailbox's messages, by name.
  const std::vector<FakeMessage>& Messages(const std::string& mailbox) {
    return mailboxes[mailbox].messages;
  }

 private:
  friend class FakeConnection;
};

}  // namespace mailsheaf::upload_test
