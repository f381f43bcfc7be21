#include "app/service/schedule.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "reports/ini_file.hpp"
#include "reports/report_tables.hpp"
#include "run/day_key.hpp"

namespace cuserver {
namespace {

using std::chrono::days;
using std::chrono::sys_days;

// Local wall-clock times as a plain count: a pause is measured on the clock
// the operator reads (an hour changed by daylight saving counts as shown).
using WallMinutes = std::chrono::sys_time<std::chrono::minutes>;

WallMinutes WallTime(const LocalDateTime& now) {
  return sys_days{now.day} + std::chrono::hours{now.hour} + std::chrono::minutes{now.minute};
}

// "yyyy-mm-dd hh:mm:ss"; nullopt for anything else.
std::optional<WallMinutes> ParseWallTime(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) return std::nullopt;
  const std::chrono::year_month_day day{std::chrono::year{y}, std::chrono::month{static_cast<unsigned>(mo)},
                                        std::chrono::day{static_cast<unsigned>(d)}};
  if (!day.ok()) return std::nullopt;
  // Seconds are rounded up, so a pause never ends early.
  return sys_days{day} + std::chrono::hours{h} + std::chrono::minutes{mi + (s > 0 ? 1 : 0)};
}

int PositiveOr(const std::string& text, int fallback) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value <= 0 || value > 100000) return fallback;
  return static_cast<int>(value);
}

}  // namespace

std::vector<std::string> EveningTables(const std::chrono::year_month_day& day) {
  const int year = static_cast<int>(day.year());
  const unsigned month = static_cast<unsigned>(day.month());
  std::vector<std::string> tables;
  for (const MonthlyReportTable& table : MonthlyTables()) {
    tables.push_back(fmt::format("{}{:04}{:02}", table.prefix, year, month));
  }
  return tables;
}

TickActions DailySchedule::Tick(const LocalDateTime& now) {
  TickActions actions;
  if (now.hour == 23) {
    actions.tables = EveningTables(now.day);
    pendingDay_ = DayKeyText(now.day);
  }
  return actions;
}

CatchUpSettings ReadCatchUpSettings(const IniFile& settings) {
  CatchUpSettings result;
  result.catchUpDays = PositiveOr(settings.Value("Service", "CatchUpDays"), result.catchUpDays);
  result.retryLimit = PositiveOr(settings.Value("Service", "RetryLimit"), result.retryLimit);
  return result;
}

NightRun NextNightRun(const LocalDateTime& now) {
  const sys_days runDay = sys_days{now.day} + days{now.hour < kNightRunHour ? 0 : 1};
  const std::chrono::year_month_day run{runDay};
  return NightRun{fmt::format("{:04}-{:02}-{:02} {:02}:00:00", static_cast<int>(run.year()),
                              static_cast<unsigned>(run.month()), static_cast<unsigned>(run.day()), kNightRunHour),
                  DayKeyText(std::chrono::year_month_day{runDay - days{1}})};
}

std::string FirstServiceDayAt(const LocalDateTime& now) {
  const sys_days today{now.day};
  return DayKeyText(std::chrono::year_month_day{now.hour < kNightRunHour ? today - days{1} : today});
}

std::optional<DayWindow> CatchUpWindow(const LocalDateTime& now, const std::string& firstServiceDay,
                                       const CatchUpSettings& settings) {
  const sys_days today{now.day};
  const sys_days last = today - days{now.hour >= kNightRunHour ? 1 : 2};
  std::string from = DayKeyText(std::chrono::year_month_day{today - days{settings.catchUpDays}});
  if (firstServiceDay > from) from = firstServiceDay;
  std::string to = DayKeyText(std::chrono::year_month_day{last});
  if (from > to) return std::nullopt;
  return DayWindow{from, to};
}

std::chrono::minutes RetryPause(int attempts) {
  if (attempts <= 1) return std::chrono::minutes{5};
  if (attempts == 2) return std::chrono::minutes{15};
  return std::chrono::minutes{60};
}

bool RetryPauseOver(const LocalDateTime& now, const std::string& ended, int attempts) {
  const auto end = ParseWallTime(ended);
  return !end || WallTime(now) >= *end + RetryPause(attempts);
}

CatchUpPlan DueDays(const LocalDateTime& now, const std::string& firstServiceDay,
                    const std::vector<DayStatus>& statuses, const CatchUpSettings& settings,
                    const std::set<std::string>& queued) {
  CatchUpPlan plan;
  const auto window = CatchUpWindow(now, firstServiceDay, settings);
  if (!window) return plan;
  for (const DayStatus& status : statuses) {
    if (status.day < window->from || status.day > window->to || queued.contains(status.day)) continue;
    switch (status.state) {
      case DayState::NotComputed:
        plan.due.push_back(status.day);
        break;
      case DayState::Failed:
      case DayState::Incomplete: {
        if (status.attempts >= settings.retryLimit) {
          plan.waitingForOperator.push_back(status.day);
          break;
        }
        if (RetryPauseOver(now, status.lastEnded, status.attempts)) plan.due.push_back(status.day);
        break;
      }
      case DayState::WaitingForOperator:
        plan.waitingForOperator.push_back(status.day);
        break;
      case DayState::Complete:
      case DayState::Running:
      case DayState::Interrupted:
      case DayState::NoGpsTable:
        break;
    }
  }
  std::sort(plan.due.begin(), plan.due.end());
  std::sort(plan.waitingForOperator.begin(), plan.waitingForOperator.end());
  return plan;
}

DeliveryPlan DueDeliveries(const LocalDateTime& now, const std::vector<DayStatus>& statuses,
                           const std::vector<DeliveryRecord>& deliveries, bool daily, bool monthly,
                           const CatchUpSettings& settings) {
  std::vector<std::string> periods;
  for (const DayStatus& status : statuses) {
    if (status.state != DayState::Complete) continue;
    if (daily) periods.push_back(status.day);
    std::chrono::year_month_day day;
    const bool lastOfMonth =
        ParseDayKey(status.day, day) && day == std::chrono::year_month_day{day.year() / day.month() / std::chrono::last};
    if (monthly && lastOfMonth) {
      periods.push_back(status.day.substr(0, 6));
    }
  }
  std::sort(periods.begin(), periods.end());
  DeliveryPlan plan;
  for (const std::string& period : periods) {
    const auto record = std::find_if(deliveries.begin(), deliveries.end(),
                                     [&period](const DeliveryRecord& r) { return r.period == period; });
    if (record == deliveries.end()) {
      plan.due.push_back(period);
    } else if (record->outcome == kDeliverySent) {
      continue;
    } else if (record->attempts >= settings.retryLimit) {
      plan.givenUp.push_back(period);
    } else if (RetryPauseOver(now, record->lastAttempt, record->attempts)) {
      plan.due.push_back(period);
    }
  }
  return plan;
}

}  // namespace cuserver
