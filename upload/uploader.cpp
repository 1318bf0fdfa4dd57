// One upload run. The walk drives it: each folder is entered (its mailbox made where missing,
// then EXAMINEd and its contents fetched for the resume check, then left, so that appends never
// go to a mailbox open read-only), then each message is either known there already (by the
// journal, without reading it, or after reading, by content) or queued for the next batch
// (append_queue.h). Each message added is written to the journal as its answer arrives.
//
// Between folders: a folder's last batch goes out without waiting for its answer. When the
// next folder's mailbox is still to be made, nothing there can answer for a message, so its
// first messages (up to a batch) are read meanwhile, overlapping the server's work on that
// batch with the reading of the files, and placed once the mailbox is entered. Every answer
// is in before the next mailbox is entered.
//
// A dropped connection: every message in flight is unconfirmed and kept, bytes and all. The
// connection is made again, the current mailbox examined afresh, and each kept message is
// either found there among what arrived after it was first sent (then it was added before the
// drop) or appended again. So no drop adds a message twice or loses one. Appends into a
// mailbox are all answered before the next folder is entered, so the kept messages always
// belong to the current mailbox. A server answer that cannot be read ends the run at once: a
// new connection would meet the same answer.
//
// A stop (Uploader::Stop, UploadEvents::StopRequested) is heard between messages and, through
// the session's cancel check, while the run waits on the network: nothing is sent after it,
// the answers already on their way are waited for stop_grace_ms, and every message not
// confirmed by then is reported not added.

#include "upload/uploader.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <deque>
#include <map>
#include <new>
#include <thread>

#include "base/report_text.h"
#include "base/text.h"
#include "upload/append_queue.h"
#include "upload/digest.h"
#include "upload/folder_plan.h"
#include "upload/imap_form.h"
#include "upload/mailbox_cursor.h"

namespace mailsheaf {
namespace {

using Clock = std::chrono::steady_clock;

std::u16string SizeText(uint64_t bytes) {
  if (bytes < 10u * 1000 * 1000) return DecimalText(static_cast<long long>(bytes / 1000)) + u" kB";
  return DecimalText(static_cast<long long>(bytes / 1000 / 1000)) + u" MB";
}

bool SaysOverQuota(const std::u16string& words) {
  const std::u16string lower = [&] {
    std::u16string l = words;
    for (char16_t& c : l) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return l;
  }();
  return lower.find(u"overquota") != std::u16string::npos ||
         lower.find(u"quota") != std::u16string::npos;
}

class UploadRun final : public UploadVisitor, private AppendQueue::Owner {
 public:
  UploadRun(UploadEvents* events, const Uploader::MakeTransport& make_transport,
            const std::atomic<bool>& stop, UploadSource& source, const UploadOptions& options,
            UploadReport& report)
      : events_(events), stop_(stop), source_(source), options_(options), report_(report),
        session_(make_transport(), options.limits), journal_(options.journal),
        cursor_(journal_, now_), queue_(session_, *this) {
    session_.SetCancel([this] {
      return StopHeard() && Clock::now() - stop_at_ >=
                                std::chrono::milliseconds(options_.stop_grace_ms);
    });
  }

  bool Go() {
    report_.account = Utf8ToUtf16(options_.user) + u" at " + Utf8ToUtf16(options_.server.host);
    std::u16string journal_error;
    if (!journal_.Load(journal_error)) {
      Notice(u"The journal of earlier runs could not be read (" + journal_error +
             u"): messages already in the account are found by their contents instead.");
    }
    source_.Count(progress_.messages_total, progress_.bytes_total);
    Status(u"Connecting");
    ImapError error;
    bool walked = false;
    if (Open(error)) {
      Status(u"");
      if (Learn()) {
        next_folder_ = {u"", u""};
        entered_ = false;
        std::u16string walk_error;
        walked = source_.Walk(*this, walk_error);
        if (!walked && !walk_error.empty()) Fail(walk_error);
        if (!ahead_.empty()) Entered();  // the last folder's, read and not yet placed
      }
    } else if (error.kind != ImapErrorKind::kStopped) {
      Fail(error.text);
    }
    const bool finished = Finish();
    if (finished) Settled();
    WindUp();
    if (finished && !failed_ && !StopHeard()) CountOnServer();
    ImapError ignored;
    session_.Logout(ignored);
    report_.stopped = StopHeard() && !failed_;
    return walked && finished && !failed_ && !report_.stopped;
  }

  // UploadVisitor
  // A folder's mailbox is entered (made where missing) with its first message: a folder that
  // holds none leaves no trace in the account, and takes no name its children need (mbox
  // storage cannot give a mailbox that holds mail any children).
  bool OnFolder(const SourceFolder& folder) override {
    if (Stopped() || (!ahead_.empty() && !Entered()) || !SendStaged()) return false;
    next_folder_ = folder;
    entered_ = false;
    ahead_planned_ = false;
    return true;
  }

  bool Known(const SourceFile& file) override {
    // A mailbox still to be made knows no message.
    if (ReadingAhead() || !Entered() || !usable_ ||
        !cursor_.KnownUnchanged(DigestOf(file.relative), file)) {
      return false;
    }
    UploadReport::Mailbox& row = Row();
    ++row.queued;
    ++row.already_there;
    progress_.current_file = file.path;
    Done(file);
    return true;
  }

  bool OnMessage(const SourceFile& file, const SourceMessage& message) override {
    QueuedMessage m;
    std::u16string why;
    Read read = Read::kNotYet;
    if (message.failure.empty() && ReadingAhead()) {
      read = ReadMessage(file, message, m, why);
      if (read == Read::kDone) {
        progress_.current_file = file.path;
        ahead_bytes_ += m.bytes.size();
        ahead_.push_back(std::move(m));
        Done(file);
        return ahead_.size() < kAheadMessages && ahead_bytes_ < kAheadBytes ? !Stopped()
                                                                            : Entered();
      }
    }
    if (!Entered()) {
      source_.Settle(message.note, false);
      return false;
    }
    ++Row().queued;
    progress_.current_file = file.path;
    const bool going_on = read == Read::kNotYet ? Handle(file, message)
                                                : NotRead(file.path, message.note, read, why);
    Done(file);
    return going_on && !Stopped();
  }

  bool Stopped() override { return StopHeard() || failed_; }

 private:
  bool Entered() {
    if (Stopped()) return false;
    if (!entered_) {
      entered_ = true;
      if (!Enter(next_folder_) || !PlaceAhead()) return false;
    }
    return !Stopped();
  }

  // A folder whose mailbox is still to be made has nothing there to compare with: its first
  // messages (up to a batch) are read before the mailbox is entered, while the last batch of
  // the mailbox before is still on its way, and placed once it is.
  bool ReadingAhead() {
    if (entered_ || Stopped()) return false;
    if (!ahead_planned_) {
      ahead_planned_ = true;
      const FolderPlan::Target target = plan_.Plan(next_folder_.stored);
      ahead_mailbox_ = target.mailbox;
      reading_ahead_ = std::find(target.missing.begin(), target.missing.end(), target.mailbox) !=
                       target.missing.end();
    }
    return reading_ahead_;
  }

  bool PlaceAhead() {
    std::deque<QueuedMessage> ahead;
    ahead.swap(ahead_);
    ahead_bytes_ = 0;
    bool going_on = true;
    for (QueuedMessage& m : ahead) {
      ++Row().queued;
      if (!going_on || Stopped()) {
        going_on = false;
        NotAdded(m.path, m.note, failed_ ? kEndedEarly : kStoppedBeforeSent);
      } else if (!usable_) {
        NotAdded(m.path, m.note, u"its mailbox " + Shown(cursor_.Mailbox()) + u" could not be used");
      } else {
        going_on = Place(std::move(m));
      }
    }
    return going_on;
  }

  bool StopHeard() {
    if (!stop_heard_ && (stop_ || (events_ != nullptr && events_->StopRequested()))) {
      stop_heard_ = true;
      stop_at_ = Clock::now();
    }
    return stop_heard_;
  }

  bool Handle(const SourceFile& file, const SourceMessage& message) {
    if (!message.failure.empty()) return NotAdded(file.path, message.note, message.failure);
    if (!usable_) {
      return NotAdded(file.path, message.note,
                      u"its mailbox " + Shown(cursor_.Mailbox()) + u" could not be used");
    }
    QueuedMessage m;
    std::u16string why;
    const Read read = ReadMessage(file, message, m, why);
    return read == Read::kDone ? Place(std::move(m)) : NotRead(file.path, message.note, read, why);
  }

  enum class Read { kNotYet, kDone, kNotAdded, kStopped };

  // The message in IMAP's form, with what the resume check compares; `why` when it is not
  // added.
  Read ReadMessage(const SourceFile& file, const SourceMessage& message, QueuedMessage& m,
                   std::u16string& why) {
    m.id = next_id_++;
    m.path = file.path;
    m.path_key = DigestOf(file.relative);
    m.file_size = file.size;
    m.file_time = file.time;
    m.seen = message.seen;
    m.time = message.time;
    m.note = message.note;
    std::u16string error;
    bool copied = false;
    try {
      m.bytes.reserve(static_cast<size_t>(message.size + message.size / 32 + 2));
      ImapFormWriter form(m.bytes);
      copied = source_.CopyTo(
          [&form](const unsigned char* data, size_t size) {
            form.Put(data, size);
            return true;
          },
          error);
      if (copied) form.Finish();
      m.nul_replaced = form.NulReplaced();
    } catch (const std::bad_alloc&) {
      // A message is held whole while it is sent; one too large for this process's memory is
      // not added, and said, rather than ending the run.
      why = u"it is too large to hold in this program's memory while it is sent";
      return Read::kNotAdded;
    }
    if (!copied) {
      why = error;
      return error.empty() ? Read::kStopped : Read::kNotAdded;  // empty: stopped while read
    }
    m.digest = DigestOf(m.bytes);
    m.content = {MessageIdKey(message.message_id), message.time, !message.time_from_run,
                 m.bytes.size(), SizeWithoutMboxFields(m.bytes)};
    return Read::kDone;
  }

  bool NotRead(const std::u16string& path, uint64_t note, Read read, const std::u16string& why) {
    if (read != Read::kStopped) return NotAdded(path, note, why);
    NotAdded(path, note, kStoppedBeforeSent);
    return false;
  }

  // A message read, in the current mailbox: there already, or on its way.
  bool Place(QueuedMessage m) {
    m.row = current_;
    m.mailbox = cursor_.Mailbox();
    m.mailbox_key = cursor_.MailboxKey();
    m.uid_validity = cursor_.UidValidity();
    m.lowest_uid = cursor_.UidNext();
    uint32_t uid = 0;
    MailboxCursor::Found found = cursor_.Lookup(m.path_key, m.digest, m.content, 1, uid);
    if (found == MailboxCursor::Found::kNeedContent) {
      const bool fetched = FetchContent();
      if (!fetched || !usable_) {
        NotAdded(m.path, m.note,
                 !usable_  ? u"its mailbox " + Shown(cursor_.Mailbox()) + u" could not be used"
                 : failed_ ? kEndedEarly
                           : kStoppedBeforeSent);
        return fetched;
      }
      found = cursor_.Lookup(m.path_key, m.digest, m.content, 1, uid);
    }
    switch (found) {
      case MailboxCursor::Found::kByJournal:
        if (const JournalEntry* e = journal_.Find(cursor_.MailboxKey(), m.path_key)) {
          uid = e->uid;
          // Its size and time as listed now, so that the next run need not read it.
          if (e->file_size != m.file_size || e->file_time != m.file_time) Journal(m, e->uid_validity, uid);
        }
        return AlreadyThere(m);
      case MailboxCursor::Found::kByContent:
        Journal(m, cursor_.UidValidity(), uid);
        return AlreadyThere(m);
      case MailboxCursor::Found::kNo:
      case MailboxCursor::Found::kNeedContent:
        break;
    }
    if (!sending_) {
      sending_ = true;
      Mark(&UploadJournal::NoteSending);
    }
    progress_.bytes_sent += m.bytes.size();
    ImapError sent;
    if (queue_.Stage(std::move(m), sent)) return true;
    return Recover(sent);
  }

  bool AlreadyThere(const QueuedMessage& m) {
    ++report_.mailboxes[m.row].already_there;
    source_.Settle(m.note, false);
    return true;
  }

  bool NotAdded(const std::u16string& path, uint64_t note, const std::u16string& why) {
    Row().not_added.push_back({path, why});
    source_.Settle(note, false);
    return true;
  }

  void Done(const SourceFile& file) {
    ++progress_.messages_done;
    progress_.bytes_done += file.size;
    Raise();
  }

  // AppendQueue::Owner
  void Added(QueuedMessage& m, uint32_t uid_validity, uint32_t uid) override {
    UploadReport::Mailbox& row = report_.mailboxes[m.row];
    ++row.added;
    if (m.nul_replaced) row.nul_replaced.push_back(m.path);
    Journal(m, uid_validity != 0 ? uid_validity : m.uid_validity, uid);
    source_.Settle(m.note, true);
  }

  void Refused(QueuedMessage& m, const std::u16string& words) override {
    report_.mailboxes[m.row].refused.push_back({m.path, words});
    source_.Settle(m.note, false);
    if (over_quota_.empty() && SaysOverQuota(words)) over_quota_ = words;
  }

  bool MaySend(QueuedMessage& m) override {
    if (StopHeard()) {
      Settle(m, kStoppedBeforeSent);
      return false;
    }
    if (!over_quota_.empty()) {
      Settle(m, u"not sent: the account is over its quota (the server said " + Shown(over_quota_) +
                    u" for another message)");
      return false;
    }
    return true;
  }

  void Settle(QueuedMessage& m, const std::u16string& why) {
    report_.mailboxes[m.row].not_added.push_back({m.path, why});
    source_.Settle(m.note, false);
  }

  void Journal(const QueuedMessage& m, uint32_t uid_validity, uint32_t uid) {
    const JournalEntry entry{m.mailbox_key, m.path_key, uid_validity, uid,
                             m.file_size,          m.file_time,  m.digest,     m.content};
    std::u16string error;
    if (!journal_.Note(entry, m.mailbox, m.path, error)) JournalFailed(error);
  }

  void Mark(bool (UploadJournal::*mark)(uint64_t, std::u16string&)) {
    std::u16string error;
    if (!(journal_.*mark)(cursor_.MailboxKey(), error)) JournalFailed(error);
  }

  void JournalFailed(const std::u16string& error) {
    if (journal_failed_) return;
    journal_failed_ = true;
    Notice(u"The journal could not be written (" + error +
           u"): a later run finds the messages of this one by their contents instead.");
  }

  // Every message sent to the current mailbox has its answer.
  void Settled() {
    if (!sending_) return;
    sending_ = false;
    Mark(&UploadJournal::NoteSettled);
  }

  // An earlier run ended with messages on their way here (killed, stopped, cut off): the server
  // may still be storing them, as it reads what a client that is gone had already sent. They
  // are found, not sent again, once the mailbox has stopped growing.
  bool AwaitQuiet() {
    uint32_t last = 0;
    const Clock::time_point give_up = Clock::now() + std::chrono::seconds(15);
    for (bool first = true;; first = false) {
      ImapError error;
      MailboxStatus status;
      if (!session_.Status(cursor_.Mailbox(), status, error)) {
        if (error.kind == ImapErrorKind::kRefused) return true;  // not there yet
        if (!Recover(error)) return false;
        continue;
      }
      if ((!first && status.uid_next == last) || Clock::now() >= give_up) return true;
      last = status.uid_next;
      if (!Pause(1000)) return false;
    }
  }

  // The staged batch sent; its answer is not waited for.
  bool SendStaged() { return QueueStep(&AppendQueue::SendStaged); }
  // Every answer in.
  bool Finish() { return QueueStep(&AppendQueue::Drain); }

  // A step of the queue, a drop on the way recovered from; not after a stop or a failure.
  bool QueueStep(bool (AppendQueue::*step)(ImapError&)) {
    for (;;) {
      if (failed_ || StopHeard()) return false;
      ImapError error;
      if ((queue_.*step)(error)) return true;
      if (!Recover(error)) return false;
    }
  }

  // After the walk: the answers already on their way after a stop are still taken, and every
  // message left is settled as not added.
  void WindUp() {
    if (StopHeard() && !failed_ && session_.AppendsInFlight() > 0) {
      ImapError ignored;
      session_.FinishAppends(ignored);
    }
    // Read before a mailbox that was never entered.
    for (QueuedMessage& m : ahead_) {
      m.row = RowOf(ahead_mailbox_);
      ++report_.mailboxes[m.row].queued;
      Settle(m, failed_ ? kEndedEarly : kStoppedBeforeSent);
    }
    ahead_.clear();
    for (QueuedMessage& m : queue_.TakeAll()) {
      Settle(m, failed_ ? kEndedBeforeConfirmed
                 : m.sent ? kStoppedBeforeConfirmed
                          : kStoppedBeforeSent);
    }
  }

  bool Learn() {
    PersonalNamespace personal;
    std::vector<MailboxEntry> mailboxes;
    if (!Step([&](ImapError& e) { return session_.Namespace(personal, e); }) ||
        !Step([&](ImapError& e) { return session_.List(mailboxes, e); })) {
      return false;
    }
    namespace_ = personal;
    plan_.Learn(mailboxes, personal);
    if (!session_.HasCapability("UIDPLUS")) {
      Notice(u"The server does not name the messages it adds (it has no UIDPLUS): a later run "
             u"finds them again by their contents, which two messages alike can mislead.");
    }
    StorageQuota quota;
    if (Step([&](ImapError& e) { return session_.QuotaRoot(u"INBOX", quota, e); }) &&
        quota.known && quota.limit > 0) {
      const uint64_t free = quota.limit - std::min(quota.limit, quota.used);
      if (progress_.bytes_total > free) {
        const std::u16string warning =
            u"The account's quota leaves " + SizeText(free) + u" free and the messages take " +
            SizeText(progress_.bytes_total) +
            u": not all of them will fit. Messages are sent until the server refuses one for "
            u"its quota; the rest are not sent.";
        Notice(warning);
        Status(warning);
        Status(u"");
      }
    }
    return !failed_;
  }

  bool Enter(const SourceFolder& folder) {
    // The mailbox before took its last batch without waiting for the answer, so that this
    // folder's first messages were read meanwhile; every answer is in before the next mailbox.
    if (!Finish()) return false;
    Settled();
    FolderPlan::Target target = plan_.Plan(folder.stored);
    for (int attempt = 0;; ++attempt) {
      current_ = RowOf(target.mailbox);
      usable_ = true;
      cursor_.Begin(target.mailbox, {}, false);
      std::u16string refusal;
      bool made_all = true;
      for (const std::u16string& missing : target.missing) {
        // A parent is made with the delimiter after its name (RFC 3501, 6.3.3): a server whose
        // storage tells the two apart (mbox) then makes a folder that can hold others.
        const bool parent = missing != target.mailbox;
        if (!Create(parent ? missing + plan_.Delimiter() : missing, target.mailbox, refusal)) {
          made_all = false;
          break;
        }
      }
      if (made_all) break;
      if (failed_ || StopHeard()) return false;
      // Made meanwhile, perhaps in another case: a fresh list may show it.
      std::vector<MailboxEntry> mailboxes;
      if (attempt == 0 && Step([&](ImapError& e) { return session_.List(mailboxes, e); })) {
        plan_.Learn(mailboxes, namespace_);
        const FolderPlan::Target again = plan_.Plan(folder.stored);
        if (again.missing != target.missing || again.mailbox != target.mailbox) {
          target = again;
          continue;
        }
      }
      if (failed_ || StopHeard()) return false;
      Row().unusable = refusal;
      usable_ = false;
      break;
    }
    UploadReport::Mailbox& row = Row();
    if (std::find(row.sources.begin(), row.sources.end(), folder.source) == row.sources.end()) {
      row.sources.push_back(folder.source);
    }
    for (const std::u16string& note : target.notes) {
      if (std::find(row.notes.begin(), row.notes.end(), note) == row.notes.end()) {
        row.notes.push_back(note);
      }
    }
    if (!usable_) return true;
    // A mailbox this run has just made is known to be empty; where the server names what it
    // adds (APPENDUID), nothing of it needs asking either.
    if (row.made && session_.HasCapability("UIDPLUS")) {
      cursor_.Begin(target.mailbox, {}, true);
      cursor_.Seal();
      return true;
    }
    if (journal_.Unsettled(cursor_.MailboxKey()) && !AwaitQuiet()) return false;
    return Refresh(false);
  }

  bool Create(const std::u16string& mailbox, const std::u16string& target,
              std::u16string& refusal) {
    for (;;) {
      ImapError error;
      if (session_.Create(mailbox, error)) {
        plan_.NoteCreated(mailbox.back() == plan_.Delimiter() && mailbox != target
                              ? mailbox.substr(0, mailbox.size() - 1)
                              : mailbox);
        if (mailbox == target) Row().made = true;
        return true;
      }
      if (error.kind == ImapErrorKind::kRefused) {
        refusal = u"it could not be made (" + Shown(mailbox) + u"): " + Shown(error.text);
        return false;
      }
      if (!Recover(error)) return false;
    }
  }

  // The current mailbox examined, its contents taken for the resume check.
  bool Refresh(bool content) {
    for (;;) {
      if (failed_ || StopHeard()) return false;
      ImapError error;
      if (Examine(error, content)) return true;
      if (error.kind == ImapErrorKind::kRefused) {
        Row().unusable = Shown(error.text);
        usable_ = false;
        return true;
      }
      if (!Recover(error)) return false;
    }
  }

  // `content`: what each stored message is, for a match by content; without it only the UIDs,
  // which the server gives without reading a message, and which is all a rerun needs while
  // the journal knows every message.
  bool Examine(ImapError& error, bool content) {
    const std::u16string mailbox = cursor_.Mailbox();
    MailboxStatus status;
    if (!session_.Select(mailbox, true, status, error)) return false;
    content = content || status.exists == 0 ||
              journal_.AnyWithoutUid(DigestOf(mailbox), status.uid_validity);
    cursor_.Begin(mailbox, status, content);
    bool fetched = false;
    try {
      fetched = content ? session_.FetchStoredMessages(
                              [this](const StoredMessage& m, ImapError&) {
                                cursor_.Index().Add(m);
                                return true;
                              },
                              error)
                        : session_.FetchUids(
                              [this](uint32_t uid) {
                                cursor_.Index().AddUid(uid);
                                return true;
                              },
                              error);
    } catch (const std::bad_alloc&) {
      error = {ImapErrorKind::kRefused,
               u"the mailbox holds more messages than this program's memory can compare"};
    }
    if (!fetched && error.kind != ImapErrorKind::kRefused) return false;
    const ImapError fetch_error = error;
    cursor_.Seal();
    if (!session_.Unselect(error)) return false;
    if (!fetched) {
      cursor_.Begin(mailbox, status, false);
      error = fetch_error;
      return false;
    }
    return true;
  }

  // What the current mailbox's messages are, once a message the journal does not know is met:
  // every answer in first, so that what is in flight is never taken for another.
  bool FetchContent() { return Finish() && Refresh(true); }

  // Runs a step, making the connection again when it drops (the step then runs again).
  bool Step(const std::function<bool(ImapError&)>& step) {
    for (;;) {
      if (failed_ || StopHeard()) return false;
      ImapError error;
      if (step(error)) return true;
      if (error.kind == ImapErrorKind::kRefused || error.kind == ImapErrorKind::kUsage) {
        return Fail(error.text);
      }
      if (!Recover(error)) return false;
    }
  }

  // After a failed append, a failed wait for answers, or a dropped step.
  bool Recover(const ImapError& error) {
    if (error.kind == ImapErrorKind::kStopped || StopHeard()) return false;
    if (error.kind != ImapErrorKind::kConnectionLost) return Fail(error.text);
    return Reconnect(error);
  }

  bool Reconnect(ImapError error) {
    for (;;) {
      if (StopHeard()) return false;
      if (error.kind != ImapErrorKind::kConnectionLost && error.kind != ImapErrorKind::kConnect) {
        return error.kind == ImapErrorKind::kStopped ? false : Fail(error.text);
      }
      if (report_.reconnects >= options_.max_reconnects) {
        return Fail(u"The connection dropped " + DecimalText(report_.reconnects + 1) +
                    u" times; the last time: " + error.text);
      }
      ++report_.reconnects;
      Status(u"Reconnecting (" + DecimalText(report_.reconnects) + u" of " +
             DecimalText(options_.max_reconnects) + u")");
      session_.Disconnect();
      if (!Pause(options_.reconnect_pause_ms)) return false;
      if (!Open(error)) continue;
      if (!Resume(error)) continue;
      Status(u"");
      return true;
    }
  }

  bool Pause(int ms) {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) {
      if (StopHeard()) return false;
      std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(50),
                                                             until - Clock::now()));
    }
    return !StopHeard();
  }

  // After a reconnect: the current mailbox examined again, and each message whose answer was
  // lost found there among what arrived after it was sent, or sent again.
  bool Resume(ImapError& error) {
    std::deque<QueuedMessage> kept = queue_.TakeUnconfirmed();
    if (kept.empty() || !usable_) {
      queue_.Keep(kept);
      return true;
    }
    if (!Examine(error, true)) {
      queue_.Keep(kept);
      return false;
    }
    while (!kept.empty()) {
      QueuedMessage m = std::move(kept.front());
      kept.pop_front();
      uint32_t uid = 0;
      if (cursor_.Index().ClaimLike(m.content, m.lowest_uid, now_, uid)) {
        Added(m, cursor_.UidValidity(), uid);
        continue;
      }
      m.lowest_uid = cursor_.UidNext();
      if (!queue_.SendAlone(std::move(m), error)) {
        queue_.Keep(kept);
        return false;
      }
    }
    return true;
  }

  bool Open(ImapError& error) {
    if (!session_.Connect(options_.server, error)) return false;
    // A server that greets with PREAUTH has logged the connection in already.
    if (session_.State() == ImapState::kNotAuthenticated &&
        !session_.Login(options_.user, options_.password, error)) {
      // A refused login is for the user, not for another try.
      if (error.kind == ImapErrorKind::kRefused) {
        error = {ImapErrorKind::kUsage, u"The server refused the login as " +
                                            Utf8ToUtf16(options_.user) + u": " + Shown(error.text)};
      }
      return false;
    }
    return session_.EnableUtf8(error);
  }

  // Every mailbox's count in one round trip; one the server will not give is not known.
  void CountOnServer() {
    std::vector<std::u16string> names;
    std::vector<UploadReport::Mailbox*> rows;
    for (UploadReport::Mailbox& row : report_.mailboxes) {
      if (!row.unusable.empty()) continue;
      names.push_back(row.name);
      rows.push_back(&row);
    }
    std::vector<int64_t> counts;
    if (!Step([&](ImapError& e) { return session_.StatusAll(names, counts, e); })) return;
    for (size_t i = 0; i < rows.size(); ++i) rows[i]->server_count = counts[i];
  }

  UploadReport::Mailbox& Row() { return report_.mailboxes[current_]; }

  size_t RowOf(const std::u16string& mailbox) {
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

  void Notice(const std::u16string& notice) { report_.notices.push_back(notice); }

  void Status(const std::u16string& status) {
    progress_.status = status;
    Raise();
  }

  void Raise() {
    if (events_ != nullptr) events_->Progress(progress_);
    StopHeard();
  }

  static constexpr const char16_t* kEndedEarly =
      u"the run ended early (see above); run the same command again";
  static constexpr const char16_t* kEndedBeforeConfirmed =
      u"the run ended before the server confirmed it; run the same command again";
  static constexpr const char16_t* kStoppedBeforeSent =
      u"the run was stopped before it was sent; run the same command again";
  static constexpr const char16_t* kStoppedBeforeConfirmed =
      u"the run was stopped before the server confirmed it; run the same command again";

  UploadEvents* events_;
  const std::atomic<bool>& stop_;
  UploadSource& source_;
  const UploadOptions& options_;
  UploadReport& report_;
  const int64_t now_ = static_cast<int64_t>(std::time(nullptr));
  ImapSession session_;
  UploadJournal journal_;
  MailboxCursor cursor_;
  AppendQueue queue_;
  FolderPlan plan_;
  PersonalNamespace namespace_;
  UploadProgress progress_;
  std::map<std::u16string, size_t> rows_;
  size_t current_ = 0;
  SourceFolder next_folder_;  // the folder whose messages come next
  // Its messages read before its mailbox is entered (ReadingAhead), at most a batch.
  static constexpr size_t kAheadMessages = 100;
  static constexpr size_t kAheadBytes = 4u << 20;
  bool ahead_planned_ = false;
  bool reading_ahead_ = false;
  std::u16string ahead_mailbox_;
  std::deque<QueuedMessage> ahead_;
  size_t ahead_bytes_ = 0;
  bool entered_ = true;       // its mailbox is the cursor's
  bool usable_ = true;
  bool failed_ = false;
  bool journal_failed_ = false;
  bool sending_ = false;  // messages went to the current mailbox since it was entered
  bool stop_heard_ = false;
  Clock::time_point stop_at_;
  std::u16string over_quota_;  // the server's words when it first refused a message for quota
  uint64_t next_id_ = 1;
};

}  // namespace

bool Uploader::Run(UploadSource& source, const UploadOptions& options, UploadReport& report) {
  stop_requested_ = false;
  report = UploadReport{};
  try {
    UploadRun run(events_, make_transport_, stop_requested_, source, options, report);
    return run.Go();
  } catch (const std::bad_alloc&) {
    report.failure = u"This program ran out of memory; nothing more was sent";
    return false;
  }
}

}  // namespace mailsheaf
