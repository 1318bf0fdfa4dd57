#pragma once
// The date a message was sent, from its `Date:` header field: what the mail server takes as the
// message's received date when it imports the archive.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mailsheaf {

// Seconds since 1970-01-01 UTC for the body of a `Date:` field in the RFC 5322 form or its
// obsolete forms: optional day of week, comments and folding white space anywhere, two- and
// three-digit years, named and military zones. Also accepted, since real mail carries them:
// a missing comma after the day name, full month and day names, one-digit hours, minutes and
// seconds, dashes between day, month and year, the asctime order ("Wed Aug 28 14:40:46 2002"),
// an offset without its sign, and a missing or unreadable zone (taken as UTC, like "-0000").
// Nothing when no date can be read or a field of it is out of range.
std::optional<int64_t> ParseMessageDate(std::string_view text);

// Finds the first `Date:` field of a message fed to it piece by piece, reading only the header
// section (up to the first empty line) and at most kLimit bytes of it.
class MessageDateScanner {
 public:
  static constexpr size_t kLimit = 1 << 20;

  // Returns true once the answer is known; later input is ignored.
  bool Feed(const unsigned char* data, size_t size);
  // The end of the message: a Date field still open is complete.
  void Finish();
  bool Done() const { return done_; }
  std::optional<int64_t> Date() const { return date_; }

 private:
  void TakeLine(std::string_view line);
  void EndField();

  static constexpr size_t kFieldLimit = 4096;

  std::string line_;             // the current line, up to kFieldLimit bytes of it
  bool line_too_long_ = false;
  std::string field_;            // the Date field being read, unfolded
  bool in_date_ = false;
  bool field_too_long_ = false;
  size_t seen_ = 0;
  bool done_ = false;
  std::optional<int64_t> date_;
};

}  // namespace mailsheaf
