#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/service/clock.hpp"

namespace cuserver {

// What one five-minute tick asks for.
struct TickActions {
  // The monthly tables to make sure of, in this order (ticks of the hour 23).
  std::vector<std::string> tables;
  // The day to run (the first tick of the hour 2).
  std::optional<std::string> runDay;
};

// The nightly schedule: every tick of the hour 23 prepares the current
// month's tables and stores today as the pending day; the first tick of the
// hour 2 runs the pending day. The latch is set by that tick and cleared by
// the first tick of another hour, so a run that lasts past 03:00 is not
// started twice. Both live in memory only: after a restart before 23:00 the
// pending day is empty, and then the 2 o'clock tick runs yesterday, so that
// night's reports are still made.
class DailySchedule {
 public:
  TickActions Tick(const LocalDateTime& now);

  const std::string& PendingDay() const { return pendingDay_; }
  bool Latched() const { return latch_; }

 private:
  std::string pendingDay_;
  bool latch_ = false;
};

// The five monthly tables the 23 o'clock ticks make sure of, in their order:
// SpeedAlarm, DownloadSMS, VehicleDistance, ParkingLog, AlarmSMS, each with
// the year and month (yyyymm) appended.
std::vector<std::string> EveningTables(const std::chrono::year_month_day& day);

}  // namespace cuserver
