#pragma once
// Puts a tree into a mailbox account over IMAP: the upload's face. One connection; the folders
// made where missing, below the account's personal namespace; each folder's contents fetched
// once, so that what is already there is skipped (the journal says exactly what, see
// upload_journal.h) and a run stopped anywhere can be run again; appends pipelined; a dropped
// connection made again a bounded number of times. Everything that happened is in the report.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "upload/imap_session.h"
#include "upload/transport.h"
#include "upload/upload_events.h"
#include "upload/upload_journal.h"
#include "upload/upload_report.h"
#include "upload/upload_source.h"

namespace mailsheaf {

struct UploadOptions {
  ImapServer server;
  std::string user;
  std::string password;  // handed to the session and nowhere else
  // Room for a few batches of appends in flight.
  ImapLimits limits = [] {
    ImapLimits l;
    l.max_appends_in_flight = 256;
    return l;
  }();
  int max_reconnects = 5;
  int reconnect_pause_ms = 1000;
  // After a stop, how long the answers to what was sent are still waited for.
  int stop_grace_ms = 1000;
  // Where the journal of this account is kept; null keeps it for this run only.
  JournalFile* journal = nullptr;
};

class Uploader {
 public:
  using MakeTransport = std::function<std::unique_ptr<Transport>()>;

  explicit Uploader(UploadEvents* events, MakeTransport make_transport = MakeNetworkTransport)
      : events_(events), make_transport_(std::move(make_transport)) {}

  // True when the run went through the whole tree (refusals included: the report counts them);
  // false when it ended early, with the reason in report.failure, or was stopped.
  bool Run(UploadSource& source, const UploadOptions& options, UploadReport& report);

  // From any thread: no message is sent after it, the answers to those sent are waited for a
  // moment (stop_grace_ms), and Run returns with report.stopped. UploadEvents::StopRequested
  // asks the same, even while the run waits on the network.
  void Stop() { stop_requested_ = true; }
  bool StopRequested() const { return stop_requested_; }

 private:
  UploadEvents* events_;
  MakeTransport make_transport_;
  std::atomic<bool> stop_requested_{false};
};

}  // namespace mailsheaf
