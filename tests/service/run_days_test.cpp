#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/command_run_days.hpp"
#include "app/errors.hpp"
#include "run/day_key.hpp"

namespace cuserver {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::year;
using std::chrono::year_month_day;

RunDaysCommand Command() {
  return RunDaysCommand([] { return year_month_day{year{2026}, month{12}, day{7}}; });
}

std::vector<std::string> Days(const std::string& from, const std::string& to) {
  RunDaysCommand command = Command();
  command.FromJson(nlohmann::json{{"from", from}, {"to", to}});
  command.Setup();
  return command.Days();
}

std::string Refusal(const nlohmann::json& arguments) {
  RunDaysCommand command = Command();
  command.FromJson(arguments);
  try {
    command.Setup();
  } catch (const ArgumentError& error) {
    return error.what();
  }
  return "accepted";
}

TEST(RunDaysRange, EveryRealDayOfTheMonthsBetweenAndNoOther) {
  // The old loop ran 20080130 to 20080302 as 35 "days", 20080230 and 20080231 among them.
  const auto days = Days("20080130", "20080302");
  ASSERT_EQ(days.size(), 33u);
  EXPECT_EQ(days[0], "20080130");
  EXPECT_EQ(days[2], "20080201");
  EXPECT_EQ(days[30], "20080229");
  EXPECT_EQ(days[31], "20080301");
}

TEST(RunDaysRange, FebruaryTwentyNinthOnlyInLeapYears) {
  EXPECT_EQ(Days("20120228", "20120301"), (std::vector<std::string>{"20120228", "20120229", "20120301"}));
  EXPECT_EQ(Days("20130228", "20130301"), (std::vector<std::string>{"20130228", "20130301"}));
  EXPECT_EQ(DayKeysBetween(year{2100} / 2 / 28, year{2100} / 3 / 1),
            (std::vector<std::string>{"21000228", "21000301"}));
  EXPECT_TRUE(Refusal({{"from", "20130229"}, {"to", "20130301"}}).starts_with("日期超出指定范围！(20130229)："));
}

TEST(RunDaysRange, CrossesTheYear) {
  // The old loop silently refused a range over two years.
  EXPECT_EQ(Days("2008-12-30", "20090102"),
            (std::vector<std::string>{"20081230", "20081231", "20090101", "20090102"}));
}

TEST(RunDaysRange, OneDayRange) { EXPECT_EQ(Days("20261207", "20261207"), std::vector<std::string>{"20261207"}); }

TEST(RunDaysRange, ReversedInvalidOrOutOfRangeGetsTheOperatorMessage) {
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"20090102", "20081230"},  // reversed
           {"20080130", ""},          // empty to field
           {"", "20080130"},
           {"20071231", "20080102"},  // before the first day
           {"20261201", "20261208"},  // after today
           {"20200000", "20200101"},  // the old upper bound, not a date
           {"2014031", "20140319"},
           {"20140431", "20140501"}}) {
    EXPECT_TRUE(Refusal({{"from", from}, {"to", to}}).starts_with(kDayOutOfRangeMessage)) << from << " " << to;
  }
  EXPECT_TRUE(Refusal(nlohmann::json::object()).starts_with(kDayOutOfRangeMessage));
  EXPECT_EQ(Refusal({{"from", "2026-12-08"}, {"to", "20261208"}}),
            "日期超出指定范围！(2026-12-08)：日期应写作 yyyy-mm-dd 或 yyyymmdd，从 2008-01-01 到 2026-12-07");
  EXPECT_EQ(Refusal({{"from", "2009-01-02"}, {"to", "2008-12-30"}}),
            "日期超出指定范围！起始日 2009-01-02 晚于结束日 2008-12-30");
  EXPECT_THROW(Command().FromJson(nlohmann::json{{"from", true}}), ArgumentError);
}

}  // namespace
}  // namespace cuserver
