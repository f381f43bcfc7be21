#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cuserver {

// Seconds from begin to end, two track times "yyyy-mm-dd hh:mm:ss", positive
// when end is later. Reads only the day of month, hour, minute and second, so
// it is exact for two times of one calendar month. A text of any length other
// than 19 (including the empty text of a time not yet set) gives -1, which
// every caller takes as a short interval.
int SecondsBetween(std::string_view begin, std::string_view end);

// The day of month, hour, minute and second of a 19-character track time as
// seconds, when all four are two digits; -1 otherwise. Of two times that both
// have one, SecondsBetween is the difference: a scan of consecutive fixes
// reads each time once.
int MonthClockSeconds(std::string_view time);

// A span between two full date-times, in whole seconds. Its components all
// carry the span's sign: days truncated toward zero, then the hours (-23..23)
// and minutes (-59..59) of the remaining time of day.
struct CalendarSpan {
  long long seconds = 0;

  double Days() const { return static_cast<double>(seconds) / 86400.0; }
  int WholeDays() const { return static_cast<int>(seconds / 86400); }
  int Hours() const { return static_cast<int>(seconds % 86400 / 3600); }
  int Minutes() const { return static_cast<int>(seconds % 3600 / 60); }
};

// Seconds since 1970-01-01 00:00:00 of a time "yyyy-mm-dd hh:mm:ss" in the
// proleptic Gregorian calendar; nullopt unless the text is exactly that form
// with a real calendar date and a time of day up to 23:59:59.
std::optional<long long> ParseTrackTime(std::string_view text);

// end minus begin; nullopt when either text does not parse.
std::optional<CalendarSpan> ComputeCalendarSpan(std::string_view begin, std::string_view end);

// "%02d天%02d小时%02d分" of whole days, hours and minutes: 00天01小时25分.
std::string FormatStopDuration(const CalendarSpan& span);

}  // namespace cuserver
