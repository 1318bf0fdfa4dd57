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
// fractions of a second, an offset without its sign, with a colon ("+01:00") or as hours alone
// ("+01"), a 12-hour time ("10:00 PM"), and a zone whose name is unknown (taken as UTC, like
// "-0000", as RFC 5322 says). Nothing when no date can be read, a field of it is out of range,
// or it has no zone at all (its clock could be anywhere).
std::optional<int64_t> ParseMessageDate(std::string_view text);

}  // namespace mailsheaf
