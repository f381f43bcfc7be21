#include "app/service/schedule.hpp"

#include <fmt/format.h>

#include "run/day_key.hpp"

namespace cuserver {

std::vector<std::string> EveningTables(const std::chrono::year_month_day& day) {
  const int year = static_cast<int>(day.year());
  const unsigned month = static_cast<unsigned>(day.month());
  std::vector<std::string> tables;
  for (const char* family : {"SpeedAlarm", "DownloadSMS", "VehicleDistance", "ParkingLog", "AlarmSMS"}) {
    tables.push_back(fmt::format("{}{:04}{:02}", family, year, month));
  }
  return tables;
}

TickActions DailySchedule::Tick(const LocalDateTime& now) {
  TickActions actions;
  if (now.hour == 23) {
    actions.tables = EveningTables(now.day);
    pendingDay_ = DayKeyText(now.day);
  }
  if (!latch_ && now.hour == 2) {
    latch_ = true;
    if (!pendingDay_.empty()) {
      actions.runDay = pendingDay_;
    } else {
      actions.runDay = DayKeyText(std::chrono::sys_days{now.day} - std::chrono::days{1});
    }
  } else if (latch_ && now.hour != 2) {
    latch_ = false;
  }
  return actions;
}

}  // namespace cuserver
