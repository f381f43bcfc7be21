#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "app/service/schedule.hpp"
#include "run/day_key.hpp"

namespace cuserver {
namespace {

using namespace std::chrono;

constexpr sys_days Day(int y, unsigned m, unsigned d) { return sys_days{year{y} / month{m} / day{d}}; }

// The process's time zone for one test, so that local times come from the
// real zone rules.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

LocalDateTime LocalAt(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  LocalDateTime now;
  now.day = year_month_day{year{local.tm_year + 1900}, month{static_cast<unsigned>(local.tm_mon + 1)},
                           day{static_cast<unsigned>(local.tm_mday)}};
  now.hour = local.tm_hour;
  now.minute = local.tm_min;
  return now;
}

// "yyyy-mm-dd hh:mm", an unambiguous local time of the current zone.
std::time_t FromLocal(const std::string& text) {
  std::tm local{};
  std::sscanf(text.c_str(), "%d-%d-%d %d:%d", &local.tm_year, &local.tm_mon, &local.tm_mday, &local.tm_hour,
              &local.tm_min);
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::string Text(const LocalDateTime& now) {
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}", static_cast<int>(now.day.year()),
                     static_cast<unsigned>(now.day.month()), static_cast<unsigned>(now.day.day()), now.hour,
                     now.minute);
}

DayStatus StatusOf(std::string day, DayState state, int attempts = 0, std::string lastEnded = "") {
  DayStatus status;
  status.day = std::move(day);
  status.state = state;
  status.attempts = attempts;
  status.lastEnded = std::move(lastEnded);
  return status;
}

// The day ledger as the catch-up sees it, with runs that take no time: every
// day has a GPS table; days up to computedUpTo were computed before.
struct SimulatedLedger {
  SimulatedLedger(std::string first, std::string computed, bool fail = false)
      : firstServiceDay(std::move(first)), computedUpTo(std::move(computed)), runsFail(fail) {}

  std::string firstServiceDay;
  std::string computedUpTo;
  bool runsFail;
  CatchUpSettings settings;

  std::map<std::string, DayStatus> attempted;
  std::vector<std::pair<std::string, std::string>> runs;  // day, local time of the tick that started it
  std::vector<std::string> waiting;

  void Tick(const LocalDateTime& now) {
    std::vector<DayStatus> statuses;
    if (const auto window = CatchUpWindow(now, firstServiceDay, settings)) {
      year_month_day from;
      year_month_day to;
      ParseDayKey(window->from, from);
      ParseDayKey(window->to, to);
      for (sys_days d{from}; d <= sys_days{to}; d += days{1}) {
        const std::string key = DayKeyText(year_month_day{d});
        DayStatus status = StatusOf(key, key <= computedUpTo ? DayState::Complete : DayState::NotComputed);
        if (attempted.contains(key)) status = attempted[key];
        statuses.push_back(status);
      }
    }
    const CatchUpPlan plan = DueDays(now, firstServiceDay, statuses, settings, {});
    for (const std::string& day : plan.due) {
      runs.emplace_back(day, Text(now));
      DayStatus& status = attempted[day];
      status.day = day;
      status.attempts += 1;
      status.lastEnded = Text(now) + ":00";
      status.state = runsFail ? DayState::Failed : DayState::Complete;
    }
    waiting = plan.waitingForOperator;
  }

  // Ticks every five minutes of real time, from `from` (included) to `to`
  // (excluded), both local times of the current zone.
  void TickBetween(const std::string& from, const std::string& to) {
    for (std::time_t t = FromLocal(from); t < FromLocal(to); t += 300) Tick(LocalAt(t));
  }
};

using Runs = std::vector<std::pair<std::string, std::string>>;
using Spans = std::vector<std::pair<std::string, std::string>>;

struct NightCase {
  const char* name;
  const char* zone;
  std::string firstServiceDay;
  std::string computedUpTo;
  int catchUpDays;
  Spans up;  // when the service ticks
  Runs expected;
};

TEST(CatchUp, EachDayIsComputedOnceAtTheFirstTickFromTwoOclockOrAtTheNextStart) {
  const std::vector<NightCase> cases = {
      {"down from 23:30 on the 19th to 10:00 on the 23rd", "UTC", "20140301", "20140318", 7,
       {{"2014-03-19 22:00", "2014-03-19 23:35"}, {"2014-03-23 10:00", "2014-03-24 01:00"}},
       {{"20140319", "2014-03-23 10:00"},
        {"20140320", "2014-03-23 10:00"},
        {"20140321", "2014-03-23 10:00"},
        {"20140322", "2014-03-23 10:00"}}},
      {"down over 02:00", "UTC", "20140301", "20140318", 7,
       {{"2014-03-19 23:00", "2014-03-20 01:55"}, {"2014-03-20 04:10", "2014-03-20 05:00"}},
       {{"20140319", "2014-03-20 04:10"}}},
      {"restarted at 02:55", "UTC", "20140301", "20140318", 7,
       {{"2014-03-19 22:00", "2014-03-20 01:55"}, {"2014-03-20 02:55", "2014-03-20 05:00"}},
       {{"20140319", "2014-03-20 02:55"}}},
      {"restarted at 03:10", "UTC", "20140301", "20140318", 7,
       {{"2014-03-20 03:10", "2014-03-20 05:00"}}, {{"20140319", "2014-03-20 03:10"}}},
      {"started at 01:00 and at 02:01", "UTC", "20140301", "20140318", 7,
       {{"2014-03-20 01:00", "2014-03-20 01:05"}, {"2014-03-20 02:01", "2014-03-20 02:30"}},
       {{"20140319", "2014-03-20 02:01"}}},
      {"only CatchUpDays back", "UTC", "20140301", "20140301", 3,
       {{"2014-03-23 10:00", "2014-03-23 10:05"}},
       {{"20140320", "2014-03-23 10:00"}, {"20140321", "2014-03-23 10:00"}, {"20140322", "2014-03-23 10:00"}}},
      {"never before the first service day", "UTC", "20140320", "", 7,
       {{"2014-03-20 10:00", "2014-03-21 10:00"}}, {{"20140320", "2014-03-21 02:00"}}},
      {"Berlin, spring forward 02:00 to 03:00", "Europe/Berlin", "20140301", "20140328", 7,
       {{"2014-03-29 22:00", "2014-03-30 06:00"}}, {{"20140329", "2014-03-30 03:00"}}},
      {"Berlin, fall back 03:00 to 02:00", "Europe/Berlin", "20141001", "20141024", 7,
       {{"2014-10-25 22:00", "2014-10-26 06:00"}}, {{"20141025", "2014-10-26 02:00"}}},
      {"New York, spring forward 02:00 to 03:00", "America/New_York", "20140301", "20140307", 7,
       {{"2014-03-08 22:00", "2014-03-09 06:00"}}, {{"20140308", "2014-03-09 03:00"}}},
      {"New York, fall back 02:00 to 01:00", "America/New_York", "20141001", "20141031", 7,
       {{"2014-11-01 22:00", "2014-11-02 06:00"}}, {{"20141101", "2014-11-02 02:00"}}},
  };
  for (const NightCase& c : cases) {
    ZoneGuard zone(c.zone);
    SimulatedLedger ledger{c.firstServiceDay, c.computedUpTo};
    ledger.settings.catchUpDays = c.catchUpDays;
    for (const auto& [from, to] : c.up) ledger.TickBetween(from, to);
    EXPECT_EQ(ledger.runs, c.expected) << c.name;
  }
}

TEST(CatchUp, AFailingDayIsRetriedAfter5And15MinutesThenHourlyUntilRetryLimit) {
  ZoneGuard zone("UTC");
  SimulatedLedger ledger{"20140301", "20140318", true};
  ledger.TickBetween("2014-03-20 01:00", "2014-03-20 12:00");
  EXPECT_EQ(ledger.runs, (Runs{{"20140319", "2014-03-20 02:00"},
                               {"20140319", "2014-03-20 02:05"},
                               {"20140319", "2014-03-20 02:20"},
                               {"20140319", "2014-03-20 03:20"},
                               {"20140319", "2014-03-20 04:20"},
                               {"20140319", "2014-03-20 05:20"}}));
  EXPECT_EQ(ledger.waiting, std::vector<std::string>{"20140319"});
}

TEST(CatchUp, QueuedRunningAndFinishedDaysAreNotDue) {
  LocalDateTime now{year_month_day{Day(2014, 3, 23)}, 10, 0};
  const std::vector<DayStatus> statuses = {
      StatusOf("20140317", DayState::Complete),
      StatusOf("20140318", DayState::Running),
      StatusOf("20140319", DayState::NoGpsTable),
      StatusOf("20140320", DayState::NotComputed),
      StatusOf("20140321", DayState::Incomplete, 2, "2014-03-23 09:50:00"),  // 15 min not yet passed
      StatusOf("20140322", DayState::WaitingForOperator, 6, "2014-03-23 09:00:00"),
      StatusOf("20140323", DayState::NotComputed),  // today
  };
  const CatchUpPlan plan = DueDays(now, "20140301", statuses, CatchUpSettings{}, {"20140320"});
  EXPECT_TRUE(plan.due.empty()) << fmt::format("{}", fmt::join(plan.due, ","));
  EXPECT_EQ(plan.waitingForOperator, std::vector<std::string>{"20140322"});
  now.minute = 5;
  EXPECT_EQ(DueDays(now, "20140301", statuses, CatchUpSettings{}, {}).due,
            (std::vector<std::string>{"20140320", "20140321"}));
}

TEST(CatchUp, TheFirstServiceDayIsTheFirstNightStillAhead) {
  EXPECT_EQ(FirstServiceDayAt(LocalDateTime{year_month_day{Day(2014, 3, 1)}, 1, 59}), "20140228");
  EXPECT_EQ(FirstServiceDayAt(LocalDateTime{year_month_day{Day(2014, 3, 1)}, 2, 0}), "20140301");
}

// The evening upkeep is unchanged: every tick of the hour 23 ensures the
// month's five tables, also on the last day of a month.
TEST(Schedule, TicksOfTheHourElevenEnsureTheMonthsTablesAndStoreTheDay) {
  DailySchedule schedule;
  int ensures = 0;
  for (int minute = 0; minute < 60; minute += 5) {
    const TickActions actions = schedule.Tick(LocalDateTime{year_month_day{Day(2014, 1, 31)}, 23, minute});
    ensures += actions.tables.empty() ? 0 : 1;
    EXPECT_EQ(actions.tables, (std::vector<std::string>{"SpeedAlarm201401", "DownloadSMS201401",
                                                        "VehicleDistance201401", "ParkingLog201401",
                                                        "AlarmSMS201401"}));
  }
  EXPECT_EQ(ensures, 12);
  EXPECT_EQ(schedule.PendingDay(), "20140131");
  EXPECT_TRUE(schedule.Tick(LocalDateTime{year_month_day{Day(2014, 2, 1)}, 2, 0}).tables.empty());
  EXPECT_TRUE(schedule.Tick(LocalDateTime{year_month_day{Day(2014, 2, 1)}, 22, 55}).tables.empty());
}

}  // namespace
}  // namespace cuserver
