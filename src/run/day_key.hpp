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

// The start of the message for a day an operator may not run.
inline constexpr std::string_view kDayOutOfRangeMessage = "日期超出指定范围！";

// How an operator may write a day, for messages.
inline constexpr std::string_view kDayFormats = "yyyy-mm-dd 或 yyyymmdd";

// The first day the tracking service has data for.
inline constexpr std::chrono::year_month_day kFirstRunnableDay{
    std::chrono::year{2008}, std::chrono::January, std::chrono::day{1}};

// An operator's day, the one reading of a day given by a person: a real
// calendar date written yyyymmdd or yyyy-mm-dd (ASCII digits, two-digit month
// and day). Everything past this reading works on the DayKey yyyymmdd.
bool ParseDayKey(std::string_view text, std::chrono::year_month_day& day);

// True when the text is a day as ParseDayKey reads it from 2008-01-01 to
// today, both included.
bool IsRunnableDayKey(std::string_view text, std::chrono::year_month_day today);

std::string DayKeyText(std::chrono::year_month_day day);  // yyyymmdd
std::string ShownDayText(std::chrono::year_month_day day);  // yyyy-mm-dd

// "日期超出指定范围！(given)：..." naming the formats and the runnable days up to today.
std::string DayOutOfRangeText(std::string_view given, std::chrono::year_month_day today);

// Today in the machine's local time zone.
std::chrono::year_month_day LocalToday();

}  // namespace cuserver
