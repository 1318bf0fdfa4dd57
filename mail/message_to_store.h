#pragma once
// One message made ready for the mailbox, the same way whatever carries it there (the archive
// writer, the upload): read through once for its date, its read state and its longest line;
// left out when it is not mail; re-encoded where Zimbra would refuse a line (long_lines.h);
// then handed on piece by piece. What was done to it is noted in the run's report.

#include <cstdint>
#include <functional>
#include <string>

#include "mail/file_system.h"
#include "mail/long_lines.h"
#include "mail/message_reader.h"
#include "mail/run_report.h"

namespace mailsheaf {

class MessageToStore {
 public:
  enum class Outcome {
    kStore,    // Size(), Time(), Read() hold; CopyTo hands on the bytes to store
    kLeftOut,  // not a message: LeftOutWhy() says why
    kFailed,   // it cannot be read: the error says why, with its path
    kStopped,  // the tick said no
  };

  explicit MessageToStore(FileSystem& fs);

  // Called now and then while a long message is read or re-encoded; false stops the work.
  void SetTick(std::function<bool()> tick);

  // `fallback_time` is stored when neither the message nor its file gives a usable time.
  Outcome Prepare(const std::u16string& path, int64_t fallback_time, std::u16string& error);

  const std::u16string& LeftOutWhy() const { return left_out_why_; }
  uint64_t Size() const;  // the bytes CopyTo hands on
  int64_t Time() const { return time_; }
  // Time() is the fallback: nothing of the message or its file gave one.
  bool TimeFromRun() const { return reader_.Time() == 0; }
  bool Read() const { return reader_.Read(); }
  // The top-level Message-ID field as written (angle brackets included), empty when none.
  const std::string& MessageId() const { return reader_.MessageId(); }
  // What this message adds to the report: re-encoded, still refused, a signature broken.
  void NoteIn(RunReport& report) const;

  // Hands the bytes to store to `put`. False with the reason when the file cannot be read or
  // changed meanwhile; false with no reason when `put` or the tick said no. Once only.
  bool CopyTo(const std::function<bool(const unsigned char*, size_t)>& put,
              std::u16string& error);
  void Close();

 private:
  class Source;
  void NoteTooLargeToImport();

  std::function<bool()> tick_;
  MessageReader reader_;
  std::u16string path_;
  std::u16string left_out_why_;
  int64_t time_ = 0;
  MendPlan plan_;            // outcome kMended: the bytes come from the mend, not the file
  std::u16string refused_;   // why Zimbra will still refuse it, when it will
};

}  // namespace mailsheaf
