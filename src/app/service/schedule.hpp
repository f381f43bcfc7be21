#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/service/clock.hpp"
#include "run/day_states.hpp"

namespace cuserver {

class IniFile;

// What one five-minute tick asks for of the evening upkeep.
struct TickActions {
  // The monthly tables to make sure of, in this order (ticks of the hour 23).
  std::vector<std::string> tables;
};

// The evening upkeep: every tick of the hour 23 prepares the current month's
// tables and stores today as the pending day (the day the coming night
// computes, shown to the operator). The day runs themselves are the
// catch-up's (DueDays), which reads the day ledger rather than memory.
class DailySchedule {
 public:
  TickActions Tick(const LocalDateTime& now);

  const std::string& PendingDay() const { return pendingDay_; }

 private:
  std::string pendingDay_;
};

// The monthly tables the 23 o'clock ticks make sure of, in the catalogue's
// order (SpeedAlarm, DownloadSMS, VehicleDistance, ParkingLog, AlarmSMS), each
// with the year and month (yyyymm) appended.
std::vector<std::string> EveningTables(const std::chrono::year_month_day& day);

// [Service] CatchUpDays and RetryLimit of gpsserver.ini.
struct CatchUpSettings {
  int catchUpDays = 7;  // how many days back from today the catch-up looks (yesterday is 1)
  int retryLimit = 6;   // attempts at a day before it waits for an operator
};
// Missing, empty or non-positive values keep the defaults.
CatchUpSettings ReadCatchUpSettings(const IniFile& settings);

// The hour from which yesterday is due (local time). On a night whose clock
// jumps from 02:00 to 03:00 the first tick after the jump counts.
inline constexpr int kNightRunHour = 2;

// The next night run after now: its local time ("yyyy-mm-dd 02:00:00", the
// first tick from then on starts it) and the day it computes (DayKey, the
// day before).
struct NightRun {
  std::string at;
  std::string day;
};
NightRun NextNightRun(const LocalDateTime& now);

// The day a service starting now is first responsible for: today, or
// yesterday before 02:00, whose night run is then still ahead.
std::string FirstServiceDayAt(const LocalDateTime& now);

// The DayKeys (both included) the catch-up looks at now: from the later of
// the first service day and CatchUpDays before today, to yesterday (from
// 02:00 on; before, the day before yesterday). Nullopt when that is empty.
struct DayWindow {
  std::string from;
  std::string to;
};
std::optional<DayWindow> CatchUpWindow(const LocalDateTime& now, const std::string& firstServiceDay,
                                       const CatchUpSettings& settings);

// The pause after the attempts-th attempt at a day ended before the next
// one: 5 min after the first, 15 min after the second, an hour after each
// later one.
std::chrono::minutes RetryPause(int attempts);

// Whether RetryPause(attempts) has passed since `ended` (a local time text
// "yyyy-mm-dd hh:mm:ss"); true for a text that is no such time.
bool RetryPauseOver(const LocalDateTime& now, const std::string& ended, int attempts);

struct CatchUpPlan {
  std::vector<std::string> due;                 // day runs to queue, oldest first
  std::vector<std::string> waitingForOperator;  // days the retries gave up on
};

// The catch-up decision: of the days in CatchUpWindow, every day with a GPS
// table and no complete computation that is not queued or running here
// (`queued`) is due, oldest first — a day not computed yet at once, a failed
// or incomplete one once RetryPause(attempts) has passed since its last
// attempt ended and while attempts < RetryLimit. A day running in the ledger
// is left to its run. `statuses` are DayStatuses of (at least) the window.
CatchUpPlan DueDays(const LocalDateTime& now, const std::string& firstServiceDay,
                    const std::vector<DayStatus>& statuses, const CatchUpSettings& settings,
                    const std::set<std::string>& queued);

struct DeliveryPlan {
  std::vector<std::string> due;     // periods to send now, oldest first: yyyymmdd, or yyyymm for a month
  std::vector<std::string> givenUp;  // periods whose RetryLimit attempts all failed
};

// The e-mail deliveries due: with `daily`, every complete day of `statuses`
// (DayStatuses of the catch-up window), with `monthly` every month whose
// last day is among them complete; each unless `deliveries` (the
// ledger's) hold it sent, and once RetryPause(attempts) has passed after
// a failed attempt while attempts < RetryLimit.
DeliveryPlan DueDeliveries(const LocalDateTime& now, const std::vector<DayStatus>& statuses,
                           const std::vector<DeliveryRecord>& deliveries, bool daily, bool monthly,
                           const CatchUpSettings& settings);

}  // namespace cuserver
