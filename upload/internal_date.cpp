#include "upload/internal_date.h"

#include <chrono>
#include <cstdio>

#include "base/ascii.h"

namespace mailsheaf {
namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool Digits(std::string_view text, size_t at, size_t count, int& value) {
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

std::string InternalDateText(int64_t unix_seconds) {
  using namespace std::chrono;
  const sys_seconds moment{seconds{unix_seconds}};
  const sys_days day = floor<days>(moment);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{moment - day};
  char text[40];
  std::snprintf(text, sizeof text, "%02u-%s-%04d %02d:%02d:%02d +0000",
                static_cast<unsigned>(date.day()), kMonths[static_cast<unsigned>(date.month()) - 1],
                static_cast<int>(date.year()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
  return text;
}

bool ParseInternalDate(std::string_view text, int64_t& unix_seconds) {
  // "dd-Mon-yyyy hh:mm:ss +zzzz", 26 characters.
  if (text.size() != 26 || text[2] != '-' || text[6] != '-' || text[11] != ' ' || text[14] != ':' ||
      text[17] != ':' || text[20] != ' ' || (text[21] != '+' && text[21] != '-')) {
    return false;
  }
  int day = 0, year = 0, hour = 0, minute = 0, second = 0, zone = 0;
  const bool day_ok = text[0] == ' ' ? Digits(text, 1, 1, day) : Digits(text, 0, 2, day);
  if (!day_ok || !Digits(text, 7, 4, year) || !Digits(text, 12, 2, hour) ||
      !Digits(text, 15, 2, minute) || !Digits(text, 18, 2, second) || !Digits(text, 22, 4, zone)) {
    return false;
  }
  unsigned month = 0;
  while (month < 12 && !SameAsciiLetters(text.substr(3, 3), kMonths[month])) ++month;
  if (month == 12 || hour > 23 || minute > 59 || second > 60 || zone % 100 > 59) return false;
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{year}, std::chrono::month{month + 1},
                            std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return false;
  const int64_t offset = (zone / 100 * 60 + zone % 100) * 60;
  unix_seconds = sys_days{date}.time_since_epoch().count() * 86400LL + hour * 3600 + minute * 60 +
                 second - (text[21] == '+' ? offset : -offset);
  return true;
}

}  // namespace mailsheaf
