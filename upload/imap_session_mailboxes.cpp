// The IMAP session's mailbox commands: LIST, NAMESPACE, GETQUOTAROOT, CREATE, SELECT and
// EXAMINE, UNSELECT or CLOSE, STATUS, and the UID FETCHes of the resume check and the read-back.

#include "upload/imap_session.h"
#include "upload/imap_session_words.h"
#include "upload/internal_date.h"
#include "upload/mailbox_name.h"

namespace mailsheaf {

using namespace imap_words;  // NOLINT: the session's own small helpers

namespace {

// What a FETCH of a mailbox's contents says once the server has sent more than the bound.
ImapError TooManyToCompare(size_t limit) {
  return {ImapErrorKind::kRefused, u"the server holds more than " +
                                       DecimalText(static_cast<long long>(limit)) +
                                       u" messages there, more than this program can compare"};
}

}  // namespace

bool ImapSession::List(std::vector<MailboxEntry>& mailboxes, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  mailboxes.clear();
  const DataSink take = [&](const ImapResponse& r, ImapError& failure) {
    if (r.name != "LIST") return true;
    if (r.items.size() != 3 || r.items[0].kind != ImapItem::Kind::kList ||
        r.items[2].kind == ImapItem::Kind::kList || r.items[2].kind == ImapItem::Kind::kNil) {
      return ProtocolFailure("The server sent a LIST answer that cannot be read", failure);
    }
    if (mailboxes.size() >= limits_.max_mailboxes) {
      return ProtocolFailure("The server listed more mailboxes than allowed", failure);
    }
    MailboxEntry entry;
    for (const ImapItem& attribute : r.items[0].items) entry.attributes.push_back(attribute.text);
    const std::string& delimiter = r.items[1].text;
    if (r.items[1].kind != ImapItem::Kind::kNil && delimiter.size() == 1) {
      entry.delimiter = static_cast<char16_t>(static_cast<unsigned char>(delimiter[0]));
    }
    entry.wire_name = r.items[2].text;
    entry.name = DecodeName(entry.wire_name);
    mailboxes.push_back(std::move(entry));
    return true;
  };
  return RunOk(ImapCommand("LIST").Add("\"\" \"*\""), take, error);
}

bool ImapSession::Namespace(PersonalNamespace& personal, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  personal = PersonalNamespace{};
  if (!HasCapability("NAMESPACE")) return true;
  // * NAMESPACE (("INBOX." ".")) NIL NIL: the first personal namespace is the account's own.
  const DataSink take = [&](const ImapResponse& r, ImapError&) {
    if (r.name != "NAMESPACE" || r.items.empty() || r.items[0].kind != ImapItem::Kind::kList ||
        r.items[0].items.empty()) {
      return true;
    }
    const ImapItem& first = r.items[0].items[0];
    if (first.kind != ImapItem::Kind::kList || first.items.size() < 2) return true;
    personal.prefix = DecodeName(first.items[0].text);
    const ImapItem& delimiter = first.items[1];
    if (delimiter.kind != ImapItem::Kind::kNil && delimiter.text.size() == 1) {
      personal.delimiter = static_cast<char16_t>(static_cast<unsigned char>(delimiter.text[0]));
    }
    return true;
  };
  // A server that will not say has no prefix worth knowing.
  ImapResponse answer;
  return Run(ImapCommand("NAMESPACE"), take, answer, error);
}

bool ImapSession::QuotaRoot(std::u16string_view mailbox, StorageQuota& quota, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  quota = StorageQuota{};
  if (!HasCapability("QUOTA")) return true;
  // * QUOTA "User quota" (STORAGE 10 512): kibibytes used and allowed.
  const DataSink take = [&](const ImapResponse& r, ImapError&) {
    if (r.name != "QUOTA" || r.items.size() < 2 || r.items[1].kind != ImapItem::Kind::kList) {
      return true;
    }
    const std::vector<ImapItem>& triples = r.items[1].items;
    for (size_t i = 0; i + 2 < triples.size(); i += 3) {
      uint64_t used = 0, limit = 0;
      if (triples[i].IsAtom("STORAGE") && ParseImapNumber(triples[i + 1].text, UINT64_MAX >> 10, used) &&
          ParseImapNumber(triples[i + 2].text, UINT64_MAX >> 10, limit) &&
          (!quota.known || limit * 1024 - std::min(limit * 1024, used * 1024) <
                               quota.limit - std::min(quota.limit, quota.used))) {
        quota = {true, used * 1024, limit * 1024};
      }
    }
    return true;
  };
  ImapResponse answer;
  if (!Run(ImapCommand("GETQUOTAROOT").AddString(EncodeName(mailbox), utf8_names_), take, answer,
           error)) {
    return false;
  }
  return true;  // a refusal only means the quota is not known
}

bool ImapSession::Create(std::u16string_view mailbox, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  return RunOk(ImapCommand("CREATE").AddString(EncodeName(mailbox), utf8_names_), nullptr, error);
}

bool ImapSession::Select(std::u16string_view mailbox, bool read_only, MailboxStatus& status,
                         ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  status = MailboxStatus{};
  selecting_ = &status;
  ImapResponse answer;
  const bool ran =
      Run(ImapCommand(read_only ? "EXAMINE" : "SELECT").AddString(EncodeName(mailbox), utf8_names_),
          nullptr, answer, error);
  selecting_ = nullptr;
  if (!ran) return false;
  if (answer.status != "OK") {
    state_ = ImapState::kAuthenticated;
    error = {ImapErrorKind::kRefused, Utf8ToUtf16(answer.text)};
    return false;
  }
  status.read_only = read_only || StartsWithWord(answer.code, "READ-ONLY");
  selected_exists_ = status.exists;
  selected_read_only_ = read_only;
  state_ = ImapState::kSelected;
  return true;
}

bool ImapSession::Unselect(ImapError& error) {
  if (!Require(ImapState::kSelected, error)) return false;
  const bool unselect = HasCapability("UNSELECT");
  if (!unselect && !selected_read_only_) {
    // CLOSE would expunge a mailbox opened for writing.
    error = {ImapErrorKind::kUsage, u"Only a mailbox opened read-only is left by CLOSE"};
    return false;
  }
  if (!RunOk(ImapCommand(unselect ? "UNSELECT" : "CLOSE"), nullptr, error)) return false;
  state_ = ImapState::kAuthenticated;
  return true;
}

bool ImapSession::Status(std::u16string_view mailbox, uint32_t& messages, ImapError& error) {
  MailboxStatus status;
  if (!Status(mailbox, status, error)) return false;
  messages = status.exists;
  return true;
}

bool ImapSession::Status(std::u16string_view mailbox, MailboxStatus& status, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  status = MailboxStatus{};
  bool found = false;
  const DataSink take = [&](const ImapResponse& r, ImapError&) {
    if (r.name != "STATUS" || r.items.size() != 2 || r.items[1].kind != ImapItem::Kind::kList)
      return true;
    const std::vector<ImapItem>& pairs = r.items[1].items;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
      uint64_t number = 0;
      if (!ParseImapNumber(pairs[i + 1].text, UINT32_MAX, number)) continue;
      if (pairs[i].IsAtom("MESSAGES")) {
        status.exists = static_cast<uint32_t>(number);
        found = true;
      } else if (pairs[i].IsAtom("UIDNEXT")) {
        status.uid_next = static_cast<uint32_t>(number);
      } else if (pairs[i].IsAtom("UIDVALIDITY")) {
        status.uid_validity = static_cast<uint32_t>(number);
      }
    }
    return true;
  };
  if (!RunOk(ImapCommand("STATUS")
                 .AddString(EncodeName(mailbox), utf8_names_)
                 .Add("(MESSAGES UIDNEXT UIDVALIDITY)"),
             take, error)) {
    return false;
  }
  if (!found) return ProtocolFailure("The server's STATUS answer had no MESSAGES count", error);
  return true;
}

bool ImapSession::FetchStoredMessages(std::vector<StoredMessage>& messages, ImapError& error) {
  messages.clear();
  return FetchStoredMessages(
      [&messages](const StoredMessage& m, ImapError&) {
        messages.push_back(m);
        return true;
      },
      error);
}

bool ImapSession::FetchStoredMessages(const TakeStored& take_stored, ImapError& error) {
  if (!Require(ImapState::kSelected, error)) return false;
  size_t taken = 0;
  ImapError refusal;
  // "1:*" in an empty mailbox is an error on some servers.
  if (selected_exists_ == 0) return true;
  const DataSink take = [&](const ImapResponse& r, ImapError& failure) {
    if (r.name != "FETCH" || r.items.empty() || r.items[0].kind != ImapItem::Kind::kList)
      return true;
    const std::vector<ImapItem>& pairs = r.items[0].items;
    StoredMessage message;
    bool has_uid = false, has_size = false, has_date = false;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
      const ImapItem& key = pairs[i];
      const ImapItem& value = pairs[i + 1];
      uint64_t number = 0;
      if (key.IsAtom("UID") && ParseImapNumber(value.text, UINT32_MAX, number)) {
        message.uid = static_cast<uint32_t>(number);
        has_uid = true;
      } else if (key.IsAtom("RFC822.SIZE") && ParseImapNumber(value.text, UINT64_MAX, number)) {
        message.size = number;
        has_size = true;
      } else if (key.IsAtom("INTERNALDATE")) {
        has_date = ParseInternalDate(value.text, message.internal_date);
      } else if (key.IsAtom("FLAGS") && value.kind == ImapItem::Kind::kList) {
        for (const ImapItem& flag : value.items) message.flags.push_back(flag.text);
      } else if (StartsWithWord(key.text, "BODY[HEADER.FIELDS")) {
        message.message_id = MessageIdOf(value.text);
      }
    }
    // A FETCH without them is news of a flag change, not an answer to ours.
    if (!has_uid || !has_size) return true;
    if (!has_date) return ProtocolFailure("The server sent an unreadable INTERNALDATE", failure);
    // Past the bound, or once the taker said no, the rest of the answer is read and dropped:
    // the session itself stays sound.
    if (!refusal.text.empty()) return true;
    if (++taken > limits_.max_messages) {
      refusal = TooManyToCompare(limits_.max_messages);
      return true;
    }
    if (!take_stored(message, refusal) && refusal.text.empty()) {
      refusal = {ImapErrorKind::kRefused, u"the mailbox's contents could not be taken"};
    }
    return true;
  };
  if (!RunOk(
          ImapCommand("UID FETCH 1:*")
              .Add("(UID RFC822.SIZE INTERNALDATE FLAGS BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])"),
          take, error)) {
    return false;
  }
  if (refusal.text.empty()) return true;
  error = refusal;
  return false;
}

bool ImapSession::FetchMessage(uint32_t uid, std::string& bytes, ImapError& error) {
  if (!Require(ImapState::kSelected, error)) return false;
  bool found = false;
  const DataSink take = [&](const ImapResponse& r, ImapError&) {
    if (r.name != "FETCH" || r.items.empty() || r.items[0].kind != ImapItem::Kind::kList)
      return true;
    const std::vector<ImapItem>& pairs = r.items[0].items;
    bool this_uid = false;
    const std::string* body = nullptr;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
      if (pairs[i].IsAtom("UID")) this_uid = pairs[i + 1].text == std::to_string(uid);
      if (pairs[i].IsAtom("BODY[]")) body = &pairs[i + 1].text;
    }
    if (this_uid && body != nullptr) {
      bytes = *body;
      found = true;
    }
    return true;
  };
  if (!RunOk(ImapCommand("UID FETCH").Add(std::to_string(uid)).Add("(UID BODY.PEEK[])"), take,
             error)) {
    return false;
  }
  if (!found) {
    error = {ImapErrorKind::kRefused, u"The server has no message with UID " + DecimalText(uid)};
    return false;
  }
  return true;
}

bool ImapSession::FetchUids(const std::function<bool(uint32_t)>& take, ImapError& error) {
  if (!Require(ImapState::kSelected, error)) return false;
  if (selected_exists_ == 0) return true;
  size_t taken = 0;
  ImapError refusal;
  const DataSink sink = [&](const ImapResponse& r, ImapError&) {
    if (r.name != "FETCH" || r.items.empty() || r.items[0].kind != ImapItem::Kind::kList) {
      return true;
    }
    const std::vector<ImapItem>& pairs = r.items[0].items;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
      uint64_t uid = 0;
      if (!pairs[i].IsAtom("UID") || !ParseImapNumber(pairs[i + 1].text, UINT32_MAX, uid)) continue;
      if (!refusal.text.empty()) return true;
      if (++taken > limits_.max_messages) {
        refusal = TooManyToCompare(limits_.max_messages);
      } else if (!take(static_cast<uint32_t>(uid))) {
        refusal = {ImapErrorKind::kRefused, u"the mailbox's contents could not be taken"};
      }
    }
    return true;
  };
  if (!RunOk(ImapCommand("UID FETCH 1:*").Add("(UID)"), sink, error)) return false;
  if (refusal.text.empty()) return true;
  error = refusal;
  return false;
}

bool ImapSession::StatusAll(const std::vector<std::u16string>& mailboxes,
                            std::vector<int64_t>& messages, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  messages.assign(mailboxes.size(), -1);
  std::vector<std::string> wire;
  for (const std::u16string& mailbox : mailboxes) wire.push_back(EncodeName(mailbox));
  const DataSink take = [&](const ImapResponse& r, ImapError&) {
    if (r.name != "STATUS" || r.items.size() != 2 || r.items[1].kind != ImapItem::Kind::kList) {
      return true;
    }
    const auto at = std::find(wire.begin(), wire.end(), r.items[0].text);
    if (at == wire.end()) return true;
    const std::vector<ImapItem>& pairs = r.items[1].items;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
      uint64_t number = 0;
      if (pairs[i].IsAtom("MESSAGES") && ParseImapNumber(pairs[i + 1].text, UINT32_MAX, number)) {
        messages[static_cast<size_t>(at - wire.begin())] = static_cast<int64_t>(number);
      }
    }
    return true;
  };
  const DataSink* outer = sink_;
  sink_ = &take;
  std::vector<std::string> tags;
  bool ok = true;
  for (const std::string& name : wire) {
    Pending* pending = nullptr;
    ok = Send(ImapCommand("STATUS").AddString(name, utf8_names_).Add("(MESSAGES)"), pending, error);
    if (!ok) break;
    tags.push_back(pending->tag);
  }
  const auto answered = [&] {
    return std::none_of(pending_.begin(), pending_.end(), [&](const Pending& p) {
      return !p.done && std::find(tags.begin(), tags.end(), p.tag) != tags.end();
    });
  };
  while (ok && !answered()) ok = ReadOne(error);
  sink_ = outer;
  if (!ok) return false;
  std::erase_if(pending_, [&](const Pending& p) {
    return std::find(tags.begin(), tags.end(), p.tag) != tags.end();
  });
  DeliverAppends();
  return true;
}

}  // namespace mailsheaf
