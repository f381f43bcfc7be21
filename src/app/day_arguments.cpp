#include "app/day_arguments.hpp"

#include <fmt/format.h>

#include "app/errors.hpp"
#include "run/day_key.hpp"

namespace cuserver {

std::chrono::year_month_day RunnableDay(std::string_view text, std::chrono::year_month_day today) {
  std::chrono::year_month_day day;
  if (!IsRunnableDayKey(text, today) || !ParseDayKey(text, day)) throw ArgumentError(DayOutOfRangeText(text, today));
  return day;
}

void RequireDayOrder(std::chrono::year_month_day from, std::chrono::year_month_day to) {
  if (to < from) {
    throw ArgumentError(fmt::format("{}起始日 {} 晚于结束日 {}", kDayOutOfRangeMessage, ShownDayText(from),
                                    ShownDayText(to)));
  }
}

std::chrono::year_month_day ReadableDay(std::string_view text) {
  std::chrono::year_month_day day;
  if (!ParseDayKey(text, day)) {
    throw ArgumentError(fmt::format("日期应为 {} 格式的真实日期，而不是“{}”", kDayFormats, text));
  }
  return day;
}

}  // namespace cuserver
