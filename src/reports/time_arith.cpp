#include "reports/time_arith.hpp"

#include <fmt/format.h>

#include "reports/text_number.hpp"

namespace cuserver {
namespace {

int Field(std::string_view time, std::size_t pos) { return LeadingInt(time.substr(pos, 2)); }

// Exactly `count` decimal digits at `pos`; -1 otherwise.
int Digits(std::string_view text, std::size_t pos, std::size_t count) {
  int value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Day of month, hour, minute and second of a 19-character time as seconds,
// when all four are two digits (what LeadingInt reads of them then); -1 otherwise.
// Asked for every fix of a day: the eight digits are checked together.
int DigitClock(std::string_view time) {
  static constexpr std::size_t kAt[] = {8, 9, 11, 12, 14, 15, 17, 18};
  unsigned digit[8];
  bool all = true;
  for (std::size_t i = 0; i < 8; ++i) {
    digit[i] = static_cast<unsigned char>(time[kAt[i]]) - static_cast<unsigned>('0');
    all &= digit[i] <= 9;
  }
  if (!all) return -1;
  const auto two = [&](std::size_t i) { return static_cast<int>(digit[i] * 10 + digit[i + 1]); };
  return ((two(0) * 24 + two(2)) * 60 + two(4)) * 60 + two(6);
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 to y-m-d (Howard Hinnant's days_from_civil).
long long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153LL * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

int MonthClockSeconds(std::string_view time) { return time.size() == 19 ? DigitClock(time) : -1; }

int SecondsBetween(std::string_view begin, std::string_view end) {
  if (begin.size() != 19 || end.size() != 19) return -1;
  const int from = DigitClock(begin);
  const int to = DigitClock(end);
  if (from >= 0 && to >= 0) return to - from;
  const int days = Field(end, 8) - Field(begin, 8);
  const int hours = days * 24 + Field(end, 11) - Field(begin, 11);
  const int minutes = hours * 60 + Field(end, 14) - Field(begin, 14);
  return minutes * 60 + Field(end, 17) - Field(begin, 17);
}

std::optional<long long> ParseTrackTime(std::string_view text) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  const int year = Digits(text, 0, 4);
  const int month = Digits(text, 5, 2);
  const int day = Digits(text, 8, 2);
  const int hour = Digits(text, 11, 2);
  const int minute = Digits(text, 14, 2);
  const int second = Digits(text, 17, 2);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::optional<CalendarSpan> ComputeCalendarSpan(std::string_view begin, std::string_view end) {
  const auto from = ParseTrackTime(begin);
  if (!from) return std::nullopt;
  const auto to = ParseTrackTime(end);
  if (!to) return std::nullopt;
  return CalendarSpan{*to - *from};
}

std::string FormatStopDuration(const CalendarSpan& span) {
  return fmt::format("{:02}天{:02}小时{:02}分", span.WholeDays(), span.Hours(), span.Minutes());
}

}  // namespace cuserver
