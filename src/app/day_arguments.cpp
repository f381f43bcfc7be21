#include "app/day_arguments.hpp"

#include <fmt/format.h>

#include "app/errors.hpp"
#include "reports/translate.hpp"
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
    throw ArgumentError(TrFormat("a day is a real date written yyyy-mm-dd or yyyymmdd, not \"{}\"", text));
  }
  return day;
}

}  // namespace cuserver
