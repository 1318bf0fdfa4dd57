#pragma once
// The date a message was sent, from its `Date:` header field: what the mail server takes as the
// message's received date when it imports the archive.

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
// an offset without its sign or with a colon ("+01:00"), a 12-hour time ("10:00 PM"), and a
// missing or unreadable zone (taken as UTC, like "-0000").
// Nothing when no date can be read or a field of it is out of range.
std::optional<int64_t> ParseMessageDate(std::string_view text);

}  // namespace mailsheaf
