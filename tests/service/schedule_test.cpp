#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "app/service/schedule.hpp"

namespace cuserver {
namespace {

using namespace std::chrono;

// Ticks the schedule every five minutes over a span of local time and
// records what it asked for.
struct Night {
  DailySchedule schedule;
  std::vector<std::string> runs;
  std::vector<std::string> tableRuns;  // first table of each ensure, with its tick time
  int ensureTicks = 0;

  void TickAt(sys_days day, minutes timeOfDay) {
    LocalDateTime now;
    now.day = year_month_day{day};
    now.hour = static_cast<int>(duration_cast<hours>(timeOfDay).count());
    now.minute = static_cast<int>(timeOfDay.count() % 60);
    TickActions actions = schedule.Tick(now);
    if (!actions.tables.empty()) {
      ++ensureTicks;
      tableRuns.push_back(actions.tables.front());
    }
    if (actions.runDay) runs.push_back(*actions.runDay);
  }

  // Every five minutes from `from` (inclusive) to `to` (exclusive).
  void TickBetween(sys_days fromDay, minutes fromTime, sys_days toDay, minutes toTime) {
    for (auto t = sys_time<minutes>(fromDay) + fromTime; t < sys_time<minutes>(toDay) + toTime; t += minutes{5}) {
      const sys_days day = floor<days>(t);
      TickAt(day, t - day);
    }
  }
};

constexpr sys_days Day(int y, unsigned m, unsigned d) { return sys_days{year{y} / month{m} / day{d}}; }

TEST(Schedule, StartedAtTenRunsNothingUntilElevenThenThatDayAfterTwo) {
  Night night;
  night.TickBetween(Day(2014, 3, 19), hours{10}, Day(2014, 3, 19), hours{23});
  EXPECT_TRUE(night.runs.empty());
  EXPECT_EQ(night.ensureTicks, 0);
  night.TickBetween(Day(2014, 3, 19), hours{23}, Day(2014, 3, 20), hours{1} + minutes{55});
  EXPECT_EQ(night.schedule.PendingDay(), "20140319");
  EXPECT_TRUE(night.runs.empty());
  night.TickAt(Day(2014, 3, 20), hours{2} + minutes{1});
  EXPECT_EQ(night.runs, std::vector<std::string>{"20140319"});
  night.TickBetween(Day(2014, 3, 20), hours{2} + minutes{6}, Day(2014, 3, 20), hours{10});
  EXPECT_EQ(night.runs.size(), 1u) << "later ticks of the hour 2 start nothing";
}

TEST(Schedule, TwelveTicksOfTheHourElevenEnsureTheTablesTwelveTimesInOrder) {
  Night night;
  night.TickBetween(Day(2014, 3, 19), hours{23}, Day(2014, 3, 20), hours{0});
  EXPECT_EQ(night.ensureTicks, 12);
  for (const auto& first : night.tableRuns) EXPECT_EQ(first, "SpeedAlarm201403");
  EXPECT_EQ(EveningTables(year_month_day{Day(2014, 3, 19)}),
            (std::vector<std::string>{"SpeedAlarm201403", "DownloadSMS201403", "VehicleDistance201403",
                                      "ParkingLog201403", "AlarmSMS201403"}));
  EXPECT_EQ(night.schedule.PendingDay(), "20140319");
}

// Mended: after a restart between 00:00 and 22:59 the old program ran nothing
// at 2 o'clock and that day's reports were never made.
TEST(Schedule, StartedAfterMidnightRunsYesterdayAtTwo) {
  Night night;
  night.TickBetween(Day(2014, 3, 20), minutes{30}, Day(2014, 3, 20), hours{4});
  EXPECT_EQ(night.runs, std::vector<std::string>{"20140319"});
}

TEST(Schedule, StartedAfterMidnightOnTheFirstOfMarchRunsTheLeapDay) {
  Night night;
  night.TickAt(Day(2016, 3, 1), hours{2});
  night.TickAt(Day(2013, 1, 1), hours{3});
  night.TickAt(Day(2013, 1, 1), hours{2});
  EXPECT_EQ(night.runs, (std::vector<std::string>{"20160229", "20121231"}));
}

TEST(Schedule, RunFromTwoToTwentyPastThreeIsNotStartedAgain) {
  Night night;
  night.TickAt(Day(2014, 3, 19), hours{23});
  night.TickAt(Day(2014, 3, 20), hours{2});
  EXPECT_TRUE(night.schedule.Latched());
  // The run lasted until 03:20: the next tick is the first one handled.
  night.TickAt(Day(2014, 3, 20), hours{3} + minutes{20});
  EXPECT_FALSE(night.schedule.Latched());
  night.TickBetween(Day(2014, 3, 20), hours{3} + minutes{25}, Day(2014, 3, 20), hours{23});
  EXPECT_EQ(night.runs, std::vector<std::string>{"20140319"});
}

TEST(Schedule, LastDayOfTheMonthPreparesThatMonthNotTheNext) {
  Night night;
  night.TickBetween(Day(2014, 1, 31), hours{23}, Day(2014, 2, 1), hours{3});
  EXPECT_EQ(night.tableRuns.front(), "SpeedAlarm201401");
  EXPECT_EQ(night.tableRuns.back(), "SpeedAlarm201401");
  EXPECT_EQ(night.runs, std::vector<std::string>{"20140131"});
}

TEST(Schedule, MonthsOfTicksRunEveryDayOnceAndInOrderAcrossTheYearEnd) {
  Night night;
  const sys_days start = Day(2013, 11, 15);
  night.TickBetween(start, hours{10}, start + days{120}, hours{12});
  ASSERT_EQ(night.runs.size(), 120u);
  for (size_t i = 0; i < night.runs.size(); ++i) {
    const year_month_day expected{start + days{static_cast<int>(i)}};
    EXPECT_EQ(night.runs[i], fmt::format("{:04}{:02}{:02}", static_cast<int>(expected.year()),
                                         static_cast<unsigned>(expected.month()),
                                         static_cast<unsigned>(expected.day())));
  }
  EXPECT_EQ(night.ensureTicks, 120 * 12);
}

}  // namespace
}  // namespace cuserver
