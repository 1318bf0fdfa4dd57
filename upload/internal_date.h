#pragma once
// IMAP's INTERNALDATE form, "07-Dec-2026 13:37:53 +0000" (RFC 3501, date-time).

#include <cstdint>
#include <string>
#include <string_view>

namespace mailsheaf {

// Always in UTC ("+0000").
std::string InternalDateText(int64_t unix_seconds);

// Seconds since 1970 UTC, the zone applied. The day may be one digit after a space, as servers
// send it (" 7-Dec-2026 ..."). False for anything else.
bool ParseInternalDate(std::string_view text, int64_t& unix_seconds);

}  // namespace mailsheaf
