#include "tests/upload/fake_imap_server.h"

#include <chrono>
#include <thread>

namespace mailsheaf::upload_test {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The words of a command: atoms, quoted strings, "(...)" kept whole, and "\x01N" for the Nth
// literal.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < text.size()) {
    if (text[at] == ' ') {
      ++at;
      continue;
    }
    std::string word;
    if (text[at] == '"') {
      for (++at; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\') ++at;
        word += text[at];
      }
      ++at;
    } else if (text[at] == '(') {
      const size_t end = text.find(')', at);
      word = text.substr(at, end - at + 1);
      at = end + 1;
    } else {
      const size_t end = std::min(text.find(' ', at), text.size());
      word = text.substr(at, end - at);
      at = end;
    }
    words.push_back(word);
  }
  return words;
}

}  // namespace

class FakeConnection final : public Transport {
 public:
  explicit FakeConnection(FakeImapServer& server) : server_(server) {}

  void SetCancel(std::function<bool()> cancelled) override { cancelled_ = std::move(cancelled); }
  bool Connect(const std::string&, uint16_t, int, std::u16string&) override {
    ++server_.connections;
    in_.clear();
    text_.clear();
    literals_.clear();
    awaiting_ = 0;
    state_ = kNotAuthenticated;
    stalled_ = closed_ = false;
    out_ = server_.greeting + "\r\n";
    if (server_.greeting.find("PREAUTH") != std::string::npos) state_ = kAuthenticated;
    return true;
  }
  bool StartTls(const TlsOptions&, std::u16string&) override { return true; }
  PeerCertificate LastPeerCertificate() const override { return {}; }

  TransportStatus WriteAll(const char* data, size_t size, std::u16string& error) override {
    if (closed_) {
      error = u"Connection reset by peer";
      return TransportStatus::kClosed;
    }
    in_.append(data, size);
    Serve();
    return TransportStatus::kOk;
  }

  TransportStatus ReadSome(char* buffer, size_t capacity, size_t& received,
                           std::u16string& error) override {
    while (out_.empty() && !closed_) {
      // Stalled: nothing will come; only the cancel check ends the wait.
      if (cancelled_ && cancelled_()) {
        error = u"Stopped";
        return TransportStatus::kStopped;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (out_.empty()) {
      error = u"Connection reset by peer";
      return TransportStatus::kClosed;
    }
    received = std::min(capacity, out_.size());
    out_.copy(buffer, received);
    out_.erase(0, received);
    return TransportStatus::kOk;
  }

  void Close() override { closed_ = true; }

 private:
  enum State { kNotAuthenticated, kAuthenticated, kSelected };

  // Takes whole commands out of what the client sent: a line, and where it ends in "{n}" or
  // "{n+}" the n bytes and the rest of the command after them.
  void Serve() {
    for (;;) {
      if (stalled_ || closed_) return;
      if (awaiting_ > 0) {
        if (in_.size() < awaiting_) return;
        literals_.push_back(in_.substr(0, awaiting_));
        text_ += "\x01" + std::to_string(literals_.size() - 1);
        in_.erase(0, awaiting_);
        awaiting_ = 0;
      }
      const size_t end = in_.find("\r\n");
      if (end == std::string::npos) return;
      std::string line = in_.substr(0, end);
      in_.erase(0, end + 2);
      if (sasl_tag_.size() > 0) {  // the answer to AUTHENTICATE's "+"
        Answer(sasl_tag_, "OK logged in");
        state_ = kAuthenticated;
        sasl_tag_.clear();
        continue;
      }
      if (!line.empty() && line.back() == '}') {
        const size_t open = line.rfind('{');
        const bool plus = line[line.size() - 2] == '+';
        awaiting_ = std::stoul(line.substr(open + 1));
        text_ += line.substr(0, open);
        if (!plus) out_ += "+ go on\r\n";
        continue;
      }
      text_ += line;
      std::string command;
      command.swap(text_);
      Handle(command);
      literals_.clear();
    }
  }

  void Answer(const std::string& tag, const std::string& text) { out_ += tag + " " + text + "\r\n"; }

  void Handle(const std::string& command) {
    server_.commands.push_back(command);
    if (server_.stall && server_.stall(command)) {
      stalled_ = true;
      return;
    }
    if (server_.drop && server_.drop(command)) {
      closed_ = true;
      return;
    }
    if (server_.garble) {
      const std::string bytes = server_.garble(command);
      if (!bytes.empty()) {
        out_ += bytes;
        return;
      }
    }
    std::vector<std::string> words = Words(command);
    if (words.size() < 2) return Answer("*", "BAD what?");
    const std::string tag = words[0];
    std::string name = Upper(words[1]);
    if (name == "UID" && words.size() > 2) name += " " + Upper(words[2]);
    const std::vector<std::string> args(words.begin() + (name.starts_with("UID ") ? 3 : 2),
                                        words.end());
    if (name == "CAPABILITY") {
      out_ += "* CAPABILITY " + server_.capabilities + "\r\n";
      return Answer(tag, "OK done");
    }
    if (name == "STARTTLS") {
      Answer(tag, "OK begin TLS");
      out_ += server_.after_starttls;
      return;
    }
    if (name == "LOGIN" || name == "AUTHENTICATE") {
      if (name == "AUTHENTICATE" && args.size() >= 2 &&
          server_.capabilities.find("SASL-IR") == std::string::npos) {
        return Answer(tag, "BAD no initial response here");
      }
      if (name == "AUTHENTICATE" && args.size() < 2) {
        out_ += "+ \r\n";
        sasl_tag_ = tag;
        return;
      }
      state_ = kAuthenticated;
      return Answer(tag, "OK logged in");
    }
    if (name == "LOGOUT") {
      out_ += "* BYE bye\r\n";
      Answer(tag, "OK");
      closed_ = true;
      return;
    }
    if (state_ == kNotAuthenticated) return Answer(tag, "BAD log in first");
    if (name == "ENABLE") return Answer(tag, "OK");
    if (name == "NAMESPACE") {
      out_ += "* NAMESPACE ((\"" + server_.prefix + "\" \"" + server_.delimiter + "\")) NIL NIL\r\n";
      return Answer(tag, "OK");
    }
    if (name == "LIST") {
      for (const auto& [mailbox, box] : server_.mailboxes) {
        out_ += "* LIST (" + box.special_use + ") \"" + server_.delimiter + "\" \"" + mailbox +
                "\"\r\n";
      }
      return Answer(tag, "OK");
    }
    if (name == "CREATE") {
      std::string mailbox = args[0];
      if (mailbox.back() == server_.delimiter) mailbox.pop_back();
      if (server_.mailboxes.contains(mailbox)) return Answer(tag, "NO [ALREADYEXISTS] exists");
      if (!server_.prefix.empty() && !mailbox.starts_with(server_.prefix)) {
        return Answer(tag, "NO [CANNOT] not below " + server_.prefix);
      }
      server_.mailboxes[mailbox];
      return Answer(tag, "OK created");
    }
    if (name == "SELECT" || name == "EXAMINE") {
      if (!server_.mailboxes.contains(args[0])) return Answer(tag, "NO [NONEXISTENT] no such");
      const FakeMailbox& box = server_.mailboxes[args[0]];
      selected_ = args[0];
      read_only_ = name == "EXAMINE";
      state_ = kSelected;
      out_ += "* " + std::to_string(box.messages.size() + server_.fetch_flood) + " EXISTS\r\n";
      out_ += "* OK [UIDVALIDITY " + std::to_string(box.uid_validity) + "] ok\r\n";
      out_ += "* OK [UIDNEXT " + std::to_string(box.uid_next) + "] ok\r\n";
      return Answer(tag, read_only_ ? "OK [READ-ONLY] done" : "OK [READ-WRITE] done");
    }
    if (name == "UNSELECT" || name == "CLOSE") {
      state_ = kAuthenticated;
      return Answer(tag, "OK");
    }
    if (name == "STATUS") {
      if (!server_.mailboxes.contains(args[0])) return Answer(tag, "NO [NONEXISTENT] no such");
      out_ += "* STATUS \"" + args[0] + "\" (MESSAGES " +
              std::to_string(server_.mailboxes[args[0]].messages.size()) + ")\r\n";
      return Answer(tag, "OK");
    }
    if (name == "GETQUOTAROOT") return Answer(tag, "NO no quota");
    if (name == "UID FETCH") return Fetch(tag);
    if (name == "APPEND") return Append(tag, args);
    Answer(tag, "BAD unknown command");
  }

  void Fetch(const std::string& tag) {
    if (state_ != kSelected) return Answer(tag, "BAD select first");
    for (size_t i = 0; i < server_.fetch_flood; ++i) {
      out_ += "* " + std::to_string(i + 1) + " FETCH (UID " + std::to_string(i + 1) +
              " RFC822.SIZE 10 INTERNALDATE \"01-Jan-2020 00:00:00 +0000\" FLAGS ())\r\n";
    }
    int n = 0;
    for (const FakeMessage& m : server_.mailboxes[selected_].messages) {
      const size_t id_at = m.bytes.find("Message-ID:");
      const std::string id =
          id_at == std::string::npos
              ? "\r\n"
              : m.bytes.substr(id_at, m.bytes.find("\r\n", id_at) - id_at + 2) + "\r\n";
      out_ += "* " + std::to_string(++n) + " FETCH (UID " + std::to_string(m.uid) +
              " RFC822.SIZE " + std::to_string(m.bytes.size()) + " INTERNALDATE \"" + m.date +
              "\" FLAGS (" + m.flags + ") BODY[HEADER.FIELDS (\"MESSAGE-ID\")] {" +
              std::to_string(id.size()) + "}\r\n" + id + ")\r\n";
    }
    Answer(tag, "OK fetched");
  }

  // APPEND mailbox (flags) "date" {literal} [(flags) "date" {literal}]...
  void Append(const std::string& tag, const std::vector<std::string>& args) {
    const int count = ++server_.appends;
    const std::string& mailbox = args[0];
    if (server_.read_only_refuses_append && state_ == kSelected && read_only_) {
      return Answer(tag, "NO Current box is selected READ-ONLY.");
    }
    if (server_.append_answer) {
      const std::string answer = server_.append_answer(count, mailbox);
      if (!answer.empty()) return Answer(tag, answer);
    }
    if (!server_.mailboxes.contains(mailbox)) return Answer(tag, "NO [TRYCREATE] no such");
    FakeMailbox& box = server_.mailboxes[mailbox];
    const bool multi = server_.capabilities.find("MULTIAPPEND") != std::string::npos;
    std::vector<uint32_t> uids;
    FakeMessage m;
    for (size_t i = 1; i < args.size(); ++i) {
      if (args[i].starts_with("(")) {
        m.flags = args[i].substr(1, args[i].size() - 2);
      } else if (args[i].starts_with("\x01")) {
        if (!multi && !uids.empty()) return Answer(tag, "BAD one message at a time");
        m.bytes = literals_[std::stoul(args[i].substr(1))];
        m.uid = box.uid_next++;
        uids.push_back(m.uid);
        box.messages.push_back(m);
        m = FakeMessage{};
      } else {
        m.date = args[i];
      }
    }
    std::string set;
    for (uint32_t uid : uids) {
      if (!set.empty()) set += ',';
      set += std::to_string(uid);
    }
    const bool uidplus = server_.capabilities.find("UIDPLUS") != std::string::npos;
    Answer(tag, uidplus ? "OK [APPENDUID " + std::to_string(box.uid_validity) + " " + set +
                              "] appended"
                        : "OK appended");
  }

  FakeImapServer& server_;
  std::function<bool()> cancelled_;
  std::string in_;
  std::string out_;
  std::string text_;  // the command so far, literals as "\x01N"
  std::vector<std::string> literals_;
  size_t awaiting_ = 0;
  std::string sasl_tag_;
  State state_ = kNotAuthenticated;
  std::string selected_;
  bool read_only_ = false;
  bool stalled_ = false;
  bool closed_ = false;
};

std::unique_ptr<Transport> FakeImapServer::Connect() {
  return std::make_unique<FakeConnection>(*this);
}

}  // namespace mailsheaf::upload_test
