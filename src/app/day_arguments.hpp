#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace cuserver {

// The days an operator gives to commands and to the service's API, read by
// ParseDayKey (yyyy-mm-dd or yyyymmdd). Each throws ArgumentError with a
// message naming what was given and the formats, so that the control page
// and the CLI can show it as it is.

// A day that may be run: from 2008-01-01 to today. The refusal starts with
// "日期超出指定范围！" and names the range.
std::chrono::year_month_day RunnableDay(std::string_view text, std::chrono::year_month_day today);

// Two runnable days, the first not after the second.
void RequireDayOrder(std::chrono::year_month_day from, std::chrono::year_month_day to);

// A day whose stored rows are read: any real date.
std::chrono::year_month_day ReadableDay(std::string_view text);

}  // namespace cuserver
