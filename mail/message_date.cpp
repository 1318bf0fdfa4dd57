#include "mail/message_date.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/ascii.h"

namespace mailsheaf {
namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// Matches a name by its first three letters, or spelled out in full.
int IndexOfName(std::string_view word, const std::array<std::string_view, 12>& names,
                size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (SameAsciiLetters(word, names[i].substr(0, 3)) || SameAsciiLetters(word, names[i])) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

constexpr std::array<std::string_view, 12> kMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<std::string_view, 12> kDays = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

int MonthOf(std::string_view word) { return IndexOfName(word, kMonths, 12); }
bool IsDayName(std::string_view word) {
  return IndexOfName(word, kDays, 7) >= 0 || SameAsciiLetters(word, "Tues") ||
         SameAsciiLetters(word, "Thur") || SameAsciiLetters(word, "Thurs");
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(int64_t y, unsigned m) {
  static constexpr unsigned kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kLengths[m - 1];
}

// Reads the field body as a sequence of tokens, skipping comments and white space between them.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : text_(text) {}

  void SkipSpace() {
    for (;;) {
      while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
      if (pos_ >= text_.size() || text_[pos_] != '(') return;
      int depth = 0;
      while (pos_ < text_.size()) {
        const char c = text_[pos_++];
        if (c == '\\' && pos_ < text_.size()) {
          ++pos_;
        } else if (c == '(') {
          ++depth;
        } else if (c == ')' && --depth == 0) {
          break;
        }
      }
    }
  }

  bool AtEnd() {
    SkipSpace();
    return pos_ >= text_.size();
  }

  bool Punct(char c) {
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  std::string_view PeekWord() {
    SkipSpace();
    size_t end = pos_;
    while (end < text_.size() && IsAlpha(text_[end])) ++end;
    return text_.substr(pos_, end - pos_);
  }

  std::string_view Word() {
    const std::string_view word = PeekWord();
    pos_ += word.size();
    return word;
  }

  // A run of digits: its value and its length (0 when there is none).
  size_t Number(int64_t& value) {
    SkipSpace();
    size_t length = 0;
    value = 0;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) {
      if (length < 9) value = value * 10 + (text_[pos_] - '0');
      ++length;
      ++pos_;
    }
    return length > 9 ? 0 : length;
  }

  bool PeekDigit() {
    SkipSpace();
    return pos_ < text_.size() && IsDigit(text_[pos_]);
  }

 private:
  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  std::string_view text_;
  size_t pos_ = 0;
};

bool ReadYear(Tokens& tokens, int64_t& year) {
  const size_t digits = tokens.Number(year);
  if (digits < 2) return false;
  if (digits == 2) year += year < 50 ? 2000 : 1900;
  if (digits == 3) year += 1900;
  return year >= 1900;
}

bool ReadTime(Tokens& tokens, int64_t& hour, int64_t& minute, int64_t& second) {
  const size_t h = tokens.Number(hour);
  // One-digit minutes and seconds ("0:4:52") are seen in real mail too.
  if (h < 1 || h > 2 || !tokens.Punct(':')) return false;
  const size_t m = tokens.Number(minute);
  if (m < 1 || m > 2) return false;
  second = 0;
  if (tokens.Punct(':')) {
    const size_t s = tokens.Number(second);
    if (s < 1 || s > 2) return false;
    // Fractions of a second ("10:00:00.123"), which some programs write: the zone follows them.
    if (tokens.Punct('.')) {
      int64_t fraction = 0;
      if (tokens.Number(fraction) < 1) return false;
    }
  }
  if (hour > 23 || minute > 59 || second > 60) return false;
  // A 12-hour clock ("10:00 PM"), as some programs write the Date: the hour is read with it or
  // not at all.
  const std::string_view word = tokens.PeekWord();
  const bool am = SameAsciiLetters(word, "AM");
  if (!am && !SameAsciiLetters(word, "PM")) return true;
  tokens.Word();
  if (hour < 1 || hour > 12) return false;
  hour = hour % 12 + (am ? 0 : 12);
  return true;
}

// "+hhmm" or "-hhmm": minutes east of UTC. Real mail also carries the offset without its sign
// ("0530", even "01800"), which is read as east of UTC, with a colon ("+01:00"), and as hours
// alone ("+01").
bool ReadNumericZone(Tokens& tokens, int64_t& offset) {
  int sign = 1;
  const bool signed_zone = tokens.Punct('+') || (tokens.Punct('-') && (sign = -1));
  int64_t hhmm = 0;
  size_t digits = tokens.Number(hhmm);
  if (signed_zone && digits == 2) {
    int64_t mm = 0;
    if (tokens.Punct(':') && tokens.Number(mm) != 2) return false;
    hhmm = hhmm * 100 + mm;
    digits = 4;
  }
  if (signed_zone ? digits != 4 : (digits < 4 || digits > 5 || hhmm > 9959)) return false;
  if (hhmm % 100 > 59) return false;
  offset = sign * ((hhmm / 100) * 60 + hhmm % 100);
  return true;
}

// Minutes east of UTC. A zone that cannot be read, or whose meaning is unknown (military
// letters, whose sign was used both ways, and names like "CEST"), counts as "-0000": the time
// is then taken as UTC, as the rules say, rather than losing the whole date.
int64_t ReadZone(Tokens& tokens) {
  int64_t offset = 0;
  Tokens numeric = tokens;
  if (ReadNumericZone(numeric, offset)) return offset;
  const std::string_view word = tokens.Word();
  struct Named {
    std::string_view name;
    int hours;
  };
  static constexpr Named kZones[] = {{"UT", 0},   {"UTC", 0},  {"GMT", 0},  {"Z", 0},
                                     {"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5},
                                     {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
  for (const Named& zone : kZones) {
    if (!SameAsciiLetters(word, zone.name)) continue;
    offset = zone.hours * 60;
    if (zone.hours == 0) {  // "GMT+0100" and the like: the offset follows the name
      Tokens after = tokens;
      int64_t extra = 0;
      if (ReadNumericZone(after, extra)) offset = extra;
    }
    return offset;
  }
  return 0;
}

}  // namespace

std::optional<int64_t> ParseMessageDate(std::string_view text) {
  Tokens tokens(text);
  std::string_view word = tokens.PeekWord();
  if (!word.empty() && IsDayName(word)) {
    tokens.Word();
    tokens.Punct(',');
    word = tokens.PeekWord();
  }

  int64_t day = 0;
  int64_t year = 0;
  int month = -1;
  int64_t hour = 0, minute = 0, second = 0;
  if (!word.empty()) {
    // Month first: "Aug 28 14:40:46 2002" (asctime) or "Aug 28 2002 14:40:46".
    month = MonthOf(tokens.Word());
    if (month < 0) return std::nullopt;
    const size_t d = tokens.Number(day);
    if (d < 1 || d > 2) return std::nullopt;
    tokens.Punct(',');
    Tokens probe = tokens;
    int64_t ignored = 0;
    const bool time_next = probe.Number(ignored) > 0 && probe.Punct(':');
    if (time_next) {
      if (!ReadTime(tokens, hour, minute, second) || !ReadYear(tokens, year)) return std::nullopt;
    } else {
      if (!ReadYear(tokens, year) || !ReadTime(tokens, hour, minute, second)) return std::nullopt;
    }
  } else {
    const size_t d = tokens.Number(day);
    if (d < 1 || d > 2) return std::nullopt;
    tokens.Punct('-');
    month = MonthOf(tokens.Word());
    if (month < 0) return std::nullopt;
    tokens.Punct('-');
    if (!ReadYear(tokens, year) || !ReadTime(tokens, hour, minute, second)) return std::nullopt;
  }

  if (year > 9999 || day < 1 || day > DaysInMonth(year, static_cast<unsigned>(month + 1))) {
    return std::nullopt;
  }
  // A date without a zone says nothing of where its clock was (RFC 5322 requires one): it cannot
  // be read exactly.
  if (tokens.AtEnd()) return std::nullopt;
  const int64_t offset = ReadZone(tokens);

  const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month + 1),
                                     static_cast<unsigned>(day));
  return days * 86400 + hour * 3600 + minute * 60 + second - offset * 60;
}

}  // namespace mailsheaf
