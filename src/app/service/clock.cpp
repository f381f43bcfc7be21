#include "app/service/clock.hpp"

#include <ctime>

namespace cuserver {

LocalDateTime SystemClock::Now() const {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  LocalDateTime result;
  result.day = std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                           std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                           std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
  result.hour = local.tm_hour;
  result.minute = local.tm_min;
  return result;
}

}  // namespace cuserver
