// The IMAP session's appends: one message or a batch (MULTIAPPEND) sent without waiting for
// the answer, and each message's result, with its APPENDUID, handed back in order.

#include "upload/imap_session.h"
#include "upload/imap_session_words.h"
#include "upload/internal_date.h"
#include "upload/mailbox_name.h"

namespace mailsheaf {

using namespace imap_words;  // NOLINT: the session's own small helpers

bool ImapSession::Append(const AppendRequest& request, ImapError& error) {
  return AppendBatch({request}, error);
}

bool ImapSession::AppendBatch(const std::vector<AppendRequest>& requests, ImapError& error) {
  if (!Require(ImapState::kAuthenticated, error)) return false;
  if (requests.empty()) return true;
  if (requests.size() > 1 && !HasCapability("MULTIAPPEND")) {
    error = {ImapErrorKind::kUsage, u"The server does not take several messages in one APPEND"};
    return false;
  }
  size_t bytes = 0;
  for (const AppendRequest& request : requests) bytes += request.message.size();
  while (appends_in_flight_ > 0 &&
         (appends_in_flight_ + requests.size() > limits_.max_appends_in_flight ||
          bytes_in_flight_ + bytes > limits_.max_bytes_in_flight)) {
    if (!ReadOne(error)) return false;
  }
  ImapCommand command("APPEND");
  command.AddString(EncodeName(requests.front().mailbox), utf8_names_);
  std::vector<uint64_t> ids;
  for (const AppendRequest& request : requests) {
    std::string flags = "(";
    for (const std::string& flag : request.flags) {
      if (!IsFlag(flag)) {
        error = {ImapErrorKind::kUsage, u"Not a message flag: " + Utf8ToUtf16(flag)};
        return false;
      }
      if (flags.size() > 1) flags += ' ';
      flags += flag;
    }
    flags += ')';
    command.Add(flags);
    if (request.has_internal_date) command.Add(Quoted(InternalDateText(request.internal_date)));
    command.AddLiteral(request.message);
    ids.push_back(request.id);
  }
  Pending* pending = nullptr;
  return Send(command, pending, error, std::move(ids));
}

bool ImapSession::FinishAppends(ImapError& error) {
  while (appends_in_flight_ > 0) {
    if (!ReadOne(error)) return false;
  }
  DeliverAppends();
  return true;
}

void ImapSession::DeliverAppends() {
  while (!pending_.empty() && pending_.front().append && pending_.front().done &&
         !pending_.front().sending) {
    const Pending finished = std::move(pending_.front());
    pending_.pop_front();
    Report(finished, AppendResult::Outcome::kStored, {});
  }
}

// One result per message of the command: its answer's, or unconfirmed with `lost_text` when
// `outcome` says so.
void ImapSession::Report(const Pending& finished, AppendResult::Outcome outcome,
                         const std::u16string& lost_text) {
  AppendResult result;
  if (outcome == AppendResult::Outcome::kUnconfirmed) {
    result.outcome = outcome;
    result.server_text = lost_text;
  } else {
    result.server_text = Utf8ToUtf16(finished.answer.text);
    result.outcome = finished.answer.status == "OK"   ? AppendResult::Outcome::kStored
                     : finished.answer.status == "NO" ? AppendResult::Outcome::kRefused
                                                      : AppendResult::Outcome::kRejected;
  }
  std::vector<uint32_t> uids;
  uint32_t validity = 0;
  const bool numbered = outcome != AppendResult::Outcome::kUnconfirmed &&
                        result.outcome == AppendResult::Outcome::kStored &&
                        ParseAppendUid(finished.answer.code, finished.append_ids.size(), validity,
                                       uids);
  for (size_t i = 0; i < finished.append_ids.size(); ++i) {
    result.id = finished.append_ids[i];
    result.uid_validity = numbered ? validity : 0;
    result.uid = numbered ? uids[i] : 0;
    if (append_done_) append_done_(result);
  }
}

}  // namespace mailsheaf
