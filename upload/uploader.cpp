// One upload run. The walk drives it: each folder is entered (its mailbox made where missing
// and its contents fetched for the resume check), then each message is either found there
// already, or staged into the next batch; a full batch goes out without waiting for the answer
// (one APPEND for all of it where the server takes several). Answers arrive in order through
// the session's AppendDone and settle the record kept for each message in flight.
//
// A dropped connection: every message in flight is unconfirmed and kept, bytes and all. The
// connection is made again, the current mailbox's contents fetched afresh, and each kept
// message is either found there (then it was added before the drop) or appended again. So no
// drop adds a message twice or loses one. Appends into a mailbox are all answered before the
// next folder is entered, so the kept messages always belong to the current mailbox.

#include "upload/uploader.h"

#include <chrono>
#include <ctime>
#include <deque>
#include <list>
#include <map>
#include <new>
#include <thread>

#include "base/text.h"
#include "upload/folder_plan.h"
#include "upload/imap_form.h"
#include "upload/stored_index.h"

namespace mailsheaf {
namespace {

struct InFlight {
  uint64_t id = 0;
  size_t row = 0;
  std::u16string path;
  std::string message_id;
  int64_t time = 0;
  bool seen = false;
  std::string bytes;  // in IMAP's form
  bool together = false;  // sent in an APPEND with others
  bool nul_replaced = false;
};

void NoteAdded(UploadReport::Mailbox& row, const InFlight& record) {
  ++row.added;
  if (record.nul_replaced) row.nul_replaced.push_back(record.path);
}

// A batch is one transaction for the server, which is where most of its time per message goes;
// a few of them in flight keep it busy.
constexpr size_t kBatchMessages = 64;
constexpr size_t kBatchBytes = 4u << 20;

bool Dropped(const ImapError& error) {
  return error.kind == ImapErrorKind::kConnectionLost || error.kind == ImapErrorKind::kProtocol;
}

class UploadRun final : public UploadVisitor {
 public:
  UploadRun(UploadEvents* events, const Uploader::MakeTransport& make_transport,
            const std::atomic<bool>& stop, UploadSource& source, const UploadOptions& options,
            UploadReport& report)
      : events_(events), stop_(stop), source_(source), options_(options), report_(report),
        session_(make_transport(), options.limits) {
    session_.SetAppendDone([this](const AppendResult& result) { Settle(result); });
  }

  bool Go() {
    report_.account = Utf8ToUtf16(options_.user) + u" at " + Utf8ToUtf16(options_.server.host);
    source_.Count(progress_.messages_total, progress_.bytes_total);
    Status(u"Connecting");
    ImapError error;
    if (!Open(error)) return Fail(error.text);
    progress_.status.clear();
    std::vector<MailboxEntry> mailboxes;
    if (!Step([&](ImapError& e) { return session_.List(mailboxes, e); })) return false;
    plan_.Learn(mailboxes);
    if (!Enter({u"", u""})) return false;
    std::u16string walk_error;
    const bool walked = source_.Walk(*this, walk_error);
    if (!walked && !walk_error.empty() && report_.failure.empty()) report_.failure = walk_error;
    // What was sent is answered and counted however the walk ended.
    const bool finished = Finish();
    if (stop_) report_.stopped = true;
    if (finished && !failed_) CountOnServer();
    ImapError ignored;
    session_.Logout(ignored);
    return walked && finished && !failed_ && !report_.stopped;
  }

  // UploadVisitor
  bool OnFolder(const SourceFolder& folder) override {
    if (Stopped()) return false;
    return Finish() && Enter(folder);
  }

  bool OnMessage(const SourceMessage& message) override {
    if (Stopped()) return false;
    UploadReport::Mailbox& row = report_.mailboxes[current_];
    ++row.queued;
    progress_.current_file = message.path;
    const bool handled = Handle(message, row);
    ++progress_.messages_done;
    progress_.bytes_done += message.size;
    Raise();
    return handled;
  }

  bool Stopped() override { return stop_ || failed_; }

 private:
  bool Handle(const SourceMessage& message, UploadReport::Mailbox& row) {
    if (!message.failure.empty()) {
      row.not_added.push_back({message.path, message.failure});
      return true;
    }
    if (!usable_) {
      row.not_added.push_back({message.path, row.created});
      return true;
    }
    InFlight record;
    record.id = next_id_++;
    record.row = current_;
    record.path = message.path;
    record.message_id = message.message_id;
    record.time = message.time;
    record.seen = message.seen;
    std::u16string error;
    bool copied = false;
    try {
      record.bytes.reserve(static_cast<size_t>(message.size + message.size / 32 + 2));
      ImapFormWriter form(record.bytes);
      copied = source_.CopyTo(
          [&form](const unsigned char* data, size_t size) {
            form.Put(data, size);
            return true;
          },
          error);
      if (copied) form.Finish();
      record.nul_replaced = form.NulReplaced();
    } catch (const std::bad_alloc&) {
      // A message is held whole while it is sent; one too large for this process's memory is
      // not added, and said, rather than ending the run.
      row.not_added.push_back(
          {message.path, u"it is too large to hold in this program's memory while it is sent"});
      return true;
    }
    if (!copied) {
      if (error.empty()) return false;  // stopped
      row.not_added.push_back({message.path, error});
      return true;
    }
    if (index_.Take(record.message_id, record.time, record.bytes.size(), now_)) {
      ++row.already_there;
      return true;
    }
    progress_.bytes_sent += record.bytes.size();
    staged_bytes_ += record.bytes.size();
    staged_.push_back(std::move(record));
    if (staged_.size() < kBatchMessages && staged_bytes_ < kBatchBytes) return true;
    return Flush();
  }

  AppendRequest Request(const InFlight& record) const {
    AppendRequest request;
    request.id = record.id;
    request.mailbox = mailbox_;
    if (record.seen) request.flags.push_back("\\Seen");
    request.has_internal_date = true;
    request.internal_date = record.time;
    request.message = record.bytes;
    return request;
  }

  // The staged messages go out: in one APPEND where the server takes several, else one by one.
  bool Flush() {
    std::vector<InFlight> staged;
    staged.swap(staged_);
    staged_bytes_ = 0;
    const bool together = staged.size() > 1 && session_.HasCapability("MULTIAPPEND");
    // All in the in-flight list before any is sent: a drop half-way keeps the unsent as well.
    std::vector<AppendRequest> requests;
    for (InFlight& record : staged) {
      record.together = together;
      in_flight_.push_back(std::move(record));
      requests.push_back(Request(in_flight_.back()));
    }
    ImapError error;
    if (together) {
      if (!session_.AppendBatch(requests, error)) return Recover(error) && Singles();
    } else {
      for (const AppendRequest& request : requests) {
        if (!session_.Append(request, error)) return Recover(error) && Singles();
      }
    }
    return Singles();
  }

  // Messages of a batch the server refused as a whole go again one by one, for each one's own
  // answer (the server stored none of the batch).
  bool Singles() {
    while (!singles_.empty()) {
      in_flight_.push_back(std::move(singles_.front()));
      singles_.pop_front();
      in_flight_.back().together = false;
      ImapError error;
      if (!session_.Append(Request(in_flight_.back()), error) && !Recover(error)) return false;
    }
    return true;
  }

  void Settle(const AppendResult& result) {
    auto found = in_flight_.begin();
    while (found != in_flight_.end() && found->id != result.id) ++found;
    if (found == in_flight_.end()) return;
    UploadReport::Mailbox& row = report_.mailboxes[found->row];
    switch (result.outcome) {
      case AppendResult::Outcome::kStored:
        NoteAdded(row, *found);
        break;
      case AppendResult::Outcome::kRefused:
      case AppendResult::Outcome::kRejected:
        if (found->together) {
          singles_.push_back(std::move(*found));
        } else {
          row.refused.push_back({found->path, result.server_text});
        }
        break;
      case AppendResult::Outcome::kUnconfirmed:
        kept_.push_back(std::move(*found));
        break;
    }
    in_flight_.erase(found);
  }

  // Every answer in; a drop on the way is recovered from.
  bool Finish() {
    for (;;) {
      if (failed_) return false;
      if (!Flush()) return false;
      ImapError error;
      if (session_.FinishAppends(error)) {
        if (kept_.empty() && singles_.empty()) return true;
        if (Singles() && Resend(error)) continue;
        if (failed_) return false;
      }
      if (!Recover(error)) return false;
    }
  }

  bool Enter(const SourceFolder& folder) {
    const FolderPlan::Target target = plan_.Plan(folder.stored);
    mailbox_ = target.mailbox;
    current_ = Row(target.mailbox);
    report_.mailboxes[current_].sources.push_back(folder.source);
    usable_ = true;
    bool target_made = false;
    for (const std::u16string& missing : target.missing) {
      bool made = false;
      if (!Create(missing, made)) {
        if (failed_) return false;
        usable_ = false;
        return true;
      }
      // Rows may have been added meanwhile: no reference into them is kept.
      if (missing == target.mailbox && made) {
        report_.mailboxes[current_].created = u"made by this run";
        target_made = true;
      }
    }
    index_.Reset({});
    // A mailbox this run has just made is known to be empty.
    return target_made || Refresh();
  }

  bool Create(const std::u16string& mailbox, bool& made) {
    made = false;
    ImapError error;
    for (;;) {
      if (session_.Create(mailbox, error)) break;
      if (error.kind == ImapErrorKind::kRefused) {
        // It may be there already: made by an earlier try whose answer was lost, or by
        // someone else meanwhile.
        std::vector<MailboxEntry> mailboxes;
        ImapError list_error;
        if (session_.List(mailboxes, list_error)) {
          for (const MailboxEntry& m : mailboxes) {
            if (m.name == mailbox) {
              plan_.NoteCreated(mailbox);
              return true;
            }
          }
        }
        report_.mailboxes[current_].created =
            u"the server refused to make " + mailbox + u": " + error.text;
        return false;
      }
      if (!Reconnect(error)) return false;
    }
    plan_.NoteCreated(mailbox);
    made = true;
    return true;
  }

  // The current mailbox's contents, for the resume check.
  bool Refresh() {
    std::vector<StoredMessage> stored;
    for (;;) {
      if (failed_) return false;
      ImapError error;
      MailboxStatus status;
      if (session_.Select(mailbox_, true, status, error) &&
          session_.FetchStoredMessages(stored, error)) {
        break;
      }
      if (error.kind == ImapErrorKind::kRefused) {
        // A mailbox that cannot be opened (\Noselect): its messages are not added.
        report_.mailboxes[current_].created = error.text;
        usable_ = false;
        return true;
      }
      if (!Recover(error)) return false;
    }
    index_.Reset(stored);
    return true;
  }

  // Runs a step, making the connection again when it drops (the step then runs again).
  bool Step(const std::function<bool(ImapError&)>& step) {
    for (;;) {
      if (failed_) return false;
      ImapError error;
      if (step(error)) return true;
      if (!Dropped(error)) return Fail(error.text);
      if (!Reconnect(error)) return false;
    }
  }

  // After a failed append or a failed wait for answers.
  bool Recover(const ImapError& error) {
    if (!Dropped(error)) return Fail(error.text);
    return Reconnect(error);
  }

  bool Reconnect(ImapError error) {
    for (;;) {
      // Whatever was in flight and not answered is kept for the check below.
      for (InFlight& record : in_flight_) kept_.push_back(std::move(record));
      in_flight_.clear();
      if (!Dropped(error) && error.kind != ImapErrorKind::kConnect) return Fail(error.text);
      if (report_.reconnects >= options_.max_reconnects) {
        return Fail(u"The connection dropped " + DecimalText(report_.reconnects + 1) +
                    u" times; the last time: " + error.text);
      }
      ++report_.reconnects;
      Status(u"Reconnecting (" + DecimalText(report_.reconnects) + u" of " +
             DecimalText(options_.max_reconnects) + u")");
      session_.Disconnect();
      std::this_thread::sleep_for(std::chrono::milliseconds(options_.reconnect_pause_ms));
      if (!Open(error)) continue;
      if (!Resend(error)) continue;
      Status(u"");
      return true;
    }
  }

  // The kept messages, found in the current mailbox or appended again.
  bool Resend(ImapError& error) {
    if (kept_.empty()) return true;
    std::vector<StoredMessage> stored;
    MailboxStatus status;
    if (!session_.Select(mailbox_, true, status, error) ||
        !session_.FetchStoredMessages(stored, error)) {
      return false;
    }
    StoredIndex there;
    there.Reset(stored);
    std::deque<InFlight> kept;
    kept.swap(kept_);
    while (!kept.empty()) {
      InFlight record = std::move(kept.front());
      kept.pop_front();
      if (there.Take(record.message_id, record.time, record.bytes.size(), now_)) {
        NoteAdded(report_.mailboxes[record.row], record);
        continue;
      }
      record.together = false;
      in_flight_.push_back(std::move(record));
      if (!session_.Append(Request(in_flight_.back()), error)) {
        for (InFlight& rest : kept) kept_.push_back(std::move(rest));
        return false;
      }
    }
    // What the index of the current mailbox knew stays right: it never held the kept messages.
    return true;
  }

  bool Open(ImapError& error) {
    if (!session_.Connect(options_.server, error)) return false;
    if (!session_.Login(options_.user, options_.password, error)) {
      // A refused login is for the user, not for another try.
      if (error.kind == ImapErrorKind::kRefused) {
        error = {ImapErrorKind::kUsage, u"The server refused the login as " +
                                            Utf8ToUtf16(options_.user) + u": " + error.text};
      }
      return false;
    }
    return session_.EnableUtf8(error);
  }

  void CountOnServer() {
    for (UploadReport::Mailbox& row : report_.mailboxes) {
      uint32_t messages = 0;
      if (Step([&](ImapError& e) { return session_.Status(row.name, messages, e); })) {
        row.server_count = messages;
      }
      if (failed_) return;
    }
  }

  size_t Row(const std::u16string& mailbox) {
    const auto [found, added] = rows_.try_emplace(mailbox, report_.mailboxes.size());
    if (added) {
      report_.mailboxes.emplace_back();
      report_.mailboxes.back().name = mailbox;
    }
    return found->second;
  }

  bool Fail(const std::u16string& reason) {
    if (report_.failure.empty()) report_.failure = reason;
    failed_ = true;
    return false;
  }

  void Status(const std::u16string& status) {
    progress_.status = status;
    Raise();
  }

  void Raise() {
    if (events_ != nullptr) events_->Progress(progress_);
  }

  UploadEvents* events_;
  const std::atomic<bool>& stop_;
  UploadSource& source_;
  const UploadOptions& options_;
  UploadReport& report_;
  ImapSession session_;
  FolderPlan plan_;
  StoredIndex index_;
  UploadProgress progress_;
  std::map<std::u16string, size_t> rows_;
  size_t current_ = 0;
  std::u16string mailbox_;
  bool usable_ = true;
  bool failed_ = false;
  const int64_t now_ = static_cast<int64_t>(std::time(nullptr));
  uint64_t next_id_ = 1;
  std::vector<InFlight> staged_;  // handled, not yet sent: the next batch
  size_t staged_bytes_ = 0;
  std::list<InFlight> in_flight_;  // a list: the requests sent point into its records
  std::deque<InFlight> kept_;      // unconfirmed when the connection dropped
  std::deque<InFlight> singles_;   // of a batch refused as a whole
};

}  // namespace

bool Uploader::Run(UploadSource& source, const UploadOptions& options, UploadReport& report) {
  stop_requested_ = false;
  report = UploadReport{};
  UploadRun run(events_, make_transport_, stop_requested_, source, options, report);
  return run.Go();
}

}  // namespace mailsheaf
