#include "upload/append_queue.h"

namespace mailsheaf {
namespace {

// A batch is one transaction for the server, which is where most of its time per message goes;
// a few of them in flight keep it busy.
constexpr size_t kBatchMessages = 100;
constexpr size_t kBatchBytes = 4u << 20;

}  // namespace

AppendQueue::AppendQueue(ImapSession& session, Owner& owner) : session_(session), owner_(owner) {
  session_.SetAppendDone([this](const AppendResult& result) { Settle(result); });
}

AppendRequest AppendQueue::Request(const QueuedMessage& message) const {
  AppendRequest request;
  request.id = message.id;
  request.mailbox = message.mailbox;
  if (message.seen) request.flags.push_back("\\Seen");
  request.has_internal_date = true;
  request.internal_date = message.time;
  request.message = message.bytes;
  return request;
}

bool AppendQueue::Stage(QueuedMessage message, ImapError& error) {
  // A batch is for one mailbox: another's goes out first, and this one waits in the next.
  const bool sent = staged_.empty() || staged_.front().mailbox_key == message.mailbox_key ||
                    Flush(error);
  staged_bytes_ += message.bytes.size();
  staged_.push_back(std::move(message));
  if (!sent) return false;
  if (staged_.size() < kBatchMessages && staged_bytes_ < kBatchBytes) return true;
  return Flush(error);
}

// The staged messages go out: in one APPEND where the server takes several, else one by one.
bool AppendQueue::Flush(ImapError& error) {
  std::vector<QueuedMessage> staged;
  staged.swap(staged_);
  staged_bytes_ = 0;
  std::erase_if(staged, [this](QueuedMessage& m) { return !owner_.MaySend(m); });
  const bool together = staged.size() > 1 && session_.HasCapability("MULTIAPPEND");
  // All in the in-flight list before any is sent: a drop half-way keeps the unsent as well.
  std::vector<AppendRequest> requests;
  for (QueuedMessage& message : staged) {
    message.together = together;
    message.sent = true;
    in_flight_.push_back(std::move(message));
    requests.push_back(Request(in_flight_.back()));
  }
  if (together) return session_.AppendBatch(requests, error) && Singles(error);
  for (const AppendRequest& request : requests) {
    if (!session_.Append(request, error)) return false;
  }
  return Singles(error);
}

// Messages of a batch the server refused as a whole go again one by one, for each one's own
// answer (the server stored none of the batch); each waits for the one before, so that once
// the server refuses one for a reason that holds for the rest (a full quota) the owner can keep
// the rest from going only to be refused.
bool AppendQueue::Singles(ImapError& error) {
  while (!singles_.empty()) {
    QueuedMessage message = std::move(singles_.front());
    singles_.pop_front();
    if (!owner_.MaySend(message)) continue;
    message.together = false;
    message.sent = true;
    in_flight_.push_back(std::move(message));
    if (!session_.Append(Request(in_flight_.back()), error) || !session_.FinishAppends(error)) {
      return false;
    }
  }
  return true;
}

bool AppendQueue::SendAlone(QueuedMessage message, ImapError& error) {
  if (!owner_.MaySend(message)) return true;
  message.together = false;
  message.sent = true;
  in_flight_.push_back(std::move(message));
  return session_.Append(Request(in_flight_.back()), error);
}

bool AppendQueue::Drain(ImapError& error) {
  for (;;) {
    if (!Flush(error) || !session_.FinishAppends(error)) return false;
    if (singles_.empty()) return true;
  }
}

void AppendQueue::Settle(const AppendResult& result) {
  auto found = in_flight_.begin();
  while (found != in_flight_.end() && found->id != result.id) ++found;
  if (found == in_flight_.end()) return;
  switch (result.outcome) {
    case AppendResult::Outcome::kStored:
      owner_.Added(*found, result.uid_validity, result.uid);
      break;
    case AppendResult::Outcome::kRefused:
    case AppendResult::Outcome::kRejected:
      if (found->together) {
        singles_.push_back(std::move(*found));
      } else {
        owner_.Refused(*found, result.server_text);
      }
      break;
    case AppendResult::Outcome::kUnconfirmed:
      kept_.push_back(std::move(*found));
      break;
  }
  in_flight_.erase(found);
}

std::deque<QueuedMessage> AppendQueue::TakeUnconfirmed() {
  // Whatever is still in flight was never answered either.
  for (QueuedMessage& message : in_flight_) kept_.push_back(std::move(message));
  in_flight_.clear();
  std::deque<QueuedMessage> kept;
  kept.swap(kept_);
  return kept;
}

void AppendQueue::Keep(std::deque<QueuedMessage>& messages) {
  for (QueuedMessage& m : messages) kept_.push_back(std::move(m));
  messages.clear();
}

std::vector<QueuedMessage> AppendQueue::TakeAll() {
  std::vector<QueuedMessage> all;
  for (auto* group : {&kept_, &singles_}) {
    for (QueuedMessage& m : *group) all.push_back(std::move(m));
    group->clear();
  }
  for (QueuedMessage& m : in_flight_) all.push_back(std::move(m));
  in_flight_.clear();
  for (QueuedMessage& m : staged_) all.push_back(std::move(m));
  staged_.clear();
  staged_bytes_ = 0;
  return all;
}

}  // namespace mailsheaf
