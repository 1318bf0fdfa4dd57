#pragma once
// What the mail server's importer makes of a message's numbers (its size and time as the tar
// headers carry them, its longest line), beyond what the tar format itself allows; the rules
// the message pipeline keeps for both routes.

#include <cstdint>
#include <string>

namespace mailsheaf {

// The largest number an 11-digit octal tar field holds, the only form the importer reads:
// sizes and times beyond it cannot be written.
inline constexpr uint64_t kTarLargestNumber = 077777777777ULL;

// The importer keeps times as 32-bit signed seconds: a later one would wrap to 1901, and 0
// dates a message 1970. Such a time is unusable (0 here), whatever the tar field could hold;
// so is one in the first day of 1970, where tools put a placeholder ("1 January 1970
// 00:00:01"), never a date a message was sent.
inline constexpr int64_t kFirstUsableTime = 86400;       // 1970-01-02 00:00:00 UTC
inline constexpr int64_t kLastUsableTime = 2147483647;  // 2038-01-19 03:14:07 UTC
inline int64_t UsableTime(int64_t time) {
  return time >= kFirstUsableTime && time <= kLastUsableTime ? time : 0;
}

// It reads sizes in octal only: a message larger than the size field holds cannot be stored.
inline bool TooLargeToStore(uint64_t size) { return size > kTarLargestNumber; }
// And it takes an entry's size as a 32-bit signed number: an entry of 2 GiB or more is stored,
// but cannot be imported.
inline bool TooLargeToImport(uint64_t size) { return size > 2147483647u; }
inline std::u16string TooLargeReason(const std::u16string& path) {
  return u"The message " + path + u" is 8 GiB or larger, more than the archive format can hold.";
}

}  // namespace mailsheaf
