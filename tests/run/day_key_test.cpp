#include "run/day_key.hpp"

#include <gtest/gtest.h>

namespace cuserver {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::year;
using std::chrono::year_month_day;

TEST(DayKeyPieces, WholeDayTimesOfTheKey) {
  EXPECT_EQ(MonthKeyOf("20071122"), "200711");
  EXPECT_EQ(DayBeginTime("20071122"), "2007-11-22 00:01:00");
  EXPECT_EQ(DayEndTime("20071122"), "2007-11-22 23:59:59");
}

TEST(DayKeyPieces, ShortKeysGiveTheCharactersThatExist) {
  EXPECT_EQ(MonthKeyOf("2009"), "2009");
  EXPECT_EQ(DayBeginTime("2009"), "2009-- 00:01:00");
  EXPECT_EQ(DayEndTime("200901"), "2009-01- 23:59:59");
  EXPECT_EQ(DayBeginTime("2009011"), "2009-01-1 00:01:00");
  EXPECT_EQ(MonthKeyOf(""), "");
  EXPECT_EQ(DayBeginTime(""), "-- 00:01:00");
}

class RunnableDay : public ::testing::Test {
 protected:
  year_month_day today_{year{2026}, month{12}, day{7}};
};

TEST_F(RunnableDay, FromTheFirstDayOfDataToToday) {
  EXPECT_TRUE(IsRunnableDayKey("20080101", today_));
  EXPECT_TRUE(IsRunnableDayKey("20261207", today_));
  EXPECT_FALSE(IsRunnableDayKey("20071231", today_));
  EXPECT_FALSE(IsRunnableDayKey("20261208", today_));
}

// The old check compared texts with "20200000" and refused every later day.
TEST_F(RunnableDay, DaysAfter2020AreAccepted) {
  EXPECT_TRUE(IsRunnableDayKey("20200101", today_));
  EXPECT_TRUE(IsRunnableDayKey("20251231", today_));
}

TEST_F(RunnableDay, OnlyRealCalendarDates) {
  EXPECT_TRUE(IsRunnableDayKey("20080229", today_));
  EXPECT_FALSE(IsRunnableDayKey("20090229", today_));
  EXPECT_FALSE(IsRunnableDayKey("20080231", today_));
  EXPECT_FALSE(IsRunnableDayKey("20081301", today_));
  EXPECT_FALSE(IsRunnableDayKey("20080100", today_));
  EXPECT_FALSE(IsRunnableDayKey("20080000", today_));
  EXPECT_FALSE(IsRunnableDayKey("20200001", today_));
}

TEST_F(RunnableDay, OnlyEightDigits) {
  EXPECT_FALSE(IsRunnableDayKey("", today_));
  EXPECT_FALSE(IsRunnableDayKey("2009", today_));
  EXPECT_FALSE(IsRunnableDayKey("200801011", today_));
  EXPECT_FALSE(IsRunnableDayKey("2008010a", today_));
  EXPECT_FALSE(IsRunnableDayKey(" 20080101", today_));
  EXPECT_FALSE(IsRunnableDayKey("+2008010", today_));
  EXPECT_FALSE(IsRunnableDayKey("２００８０１０１", today_));
}

// How operators write days: yyyymmdd or yyyy-mm-dd, nothing looser.
TEST(ParseDayKey, BothWrittenFormsOfARealDate) {
  const struct {
    const char* text;
    const char* dayKey;  // empty: refused
  } cases[] = {
      {"20140319", "20140319"},   {"2014-03-19", "20140319"}, {"2008-02-29", "20080229"},
      {"2026-12-31", "20261231"}, {"2026-02-30", ""},         {"2009-02-29", ""},
      {"2026-13-01", ""},         {"2026-00-10", ""},         {"2026-01-00", ""},
      {"2026-1-5", ""},           {"2026-01-5", ""},          {"26-01-05", ""},
      {"2026/01/05", ""},         {"2026.01.05", ""},         {"2026-0105", ""},
      {"202601-05", ""},          {"2026--0105", ""},         {"2026-01-05 ", ""},
      {" 2026-01-05", ""},        {"2026-01-0a", ""},         {"", ""},
      {"2026-01-05T00", ""},      {"2026－01－05", ""},
  };
  for (const auto& c : cases) {
    year_month_day parsed;
    const bool read = ParseDayKey(c.text, parsed);
    EXPECT_EQ(read ? DayKeyText(parsed) : "", c.dayKey) << '"' << c.text << '"';
  }
}

TEST_F(RunnableDay, RefusalNamesWhatWasGivenTheFormatsAndTheRange) {
  EXPECT_TRUE(IsRunnableDayKey("2026-12-07", today_));
  EXPECT_FALSE(IsRunnableDayKey("2007-12-31", today_));
  EXPECT_EQ(DayOutOfRangeText("2026-12-08", today_),
            "日期超出指定范围！(2026-12-08)：日期应写作 yyyy-mm-dd 或 yyyymmdd，从 2008-01-01 到 2026-12-07");
}

TEST(DayKeyText, EightDigitsOfADate) {
  EXPECT_EQ(DayKeyText(year_month_day{year{2014}, month{3}, day{9}}), "20140309");
  year_month_day parsed;
  ASSERT_TRUE(ParseDayKey("20140309", parsed));
  EXPECT_EQ(parsed, (year_month_day{year{2014}, month{3}, day{9}}));
}

}  // namespace
}  // namespace cuserver
