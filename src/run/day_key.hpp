#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace cuserver {

// Pieces of a DayKey (yyyymmdd). A run uses its key unchanged, so a key
// shorter than eight characters gives pieces of as many characters as exist
// (possibly none), never a failure.
std::string MonthKeyOf(std::string_view dayKey);  // yyyymm
std::string DayBeginTime(std::string_view dayKey);  // "yyyy-mm-dd 00:01:00"
std::string DayEndTime(std::string_view dayKey);    // "yyyy-mm-dd 23:59:59"

// The message for a day an operator may not run.
inline constexpr std::string_view kDayOutOfRangeMessage = "日期超出指定范围！";

// The first day the tracking service has data for.
inline constexpr std::chrono::year_month_day kFirstRunnableDay{
    std::chrono::year{2008}, std::chrono::January, std::chrono::day{1}};

// An operator's day: eight ASCII digits forming a real calendar date.
bool ParseDayKey(std::string_view text, std::chrono::year_month_day& day);

// True when the text is an eight-digit real calendar date from 20080101 to
// today, both included.
bool IsRunnableDayKey(std::string_view text, std::chrono::year_month_day today);

std::string DayKeyText(std::chrono::year_month_day day);

// Today in the machine's local time zone.
std::chrono::year_month_day LocalToday();

}  // namespace cuserver
