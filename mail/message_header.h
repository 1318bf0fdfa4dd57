#pragma once
// What a message says of itself in its top-level header section, read piece by piece as the
// file streams by: the date it was sent and whether it has been read. The importer reads
// neither from the message (the tar entry's time and mode carry them), so the writer does.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mailsheaf {

class MessageHeaderScanner {
 public:
  // Only the header section is read (up to the first empty line, any of CRLF, LF or a bare CR
  // ending lines), and at most this much of it.
  static constexpr size_t kLimit = 1 << 20;

  // Returns true once the header section has ended; later input is ignored.
  bool Feed(const unsigned char* data, size_t size);
  // The end of the message: a field still open is complete.
  void Finish();
  bool Done() const { return done_; }

  // The first `Date:` field, when it can be read.
  std::optional<int64_t> Date() const { return date_; }
  // The newest date that a `Received:` field gives after its last ';' and that the importer can
  // store: when the message reached its last server. 0 when none does.
  int64_t NewestReceived() const { return newest_received_; }
  // Read unless the message says otherwise: `X-Mozilla-Status` (hexadecimal flags, 0x0001 for
  // read) decides when present, else `Status:` (read when it holds an R); a message with
  // neither is read.
  bool Read() const;
  // The first `Message-ID:` field's value without its surrounding white space; empty when
  // there is none (or it is over kFieldLimit).
  const std::string& MessageId() const { return message_id_; }

 private:
  enum class Field { kOther, kDate, kMozillaStatus, kStatus, kMessageId, kReceived };

  void TakeLine(std::string_view line);
  void EndField();

  static constexpr size_t kFieldLimit = 4096;

  std::string line_;  // the current line, up to kFieldLimit bytes of it
  bool line_too_long_ = false;
  bool cr_last_ = false;  // the last piece ended in a CR, whose LF may start the next
  bool first_line_ = true;
  Field field_ = Field::kOther;  // the field being read, when it is one of ours
  std::string value_;            // its value, unfolded
  bool value_too_long_ = false;
  size_t seen_ = 0;
  bool done_ = false;
  bool date_seen_ = false;
  std::optional<int64_t> date_;
  int64_t newest_received_ = 0;
  std::optional<std::string> mozilla_status_;
  std::optional<std::string> status_;
  bool message_id_seen_ = false;
  std::string message_id_;
};

}  // namespace mailsheaf
