#include <gtest/gtest.h>

#include "reports/time_arith.hpp"

namespace cuserver {
namespace {

TEST(SecondsBetween, CountsForwardAndBackward) {
  EXPECT_EQ(SecondsBetween("2014-03-19 08:00:00", "2014-03-19 09:00:01"), 3601);
  EXPECT_EQ(SecondsBetween("2014-03-19 09:00:01", "2014-03-19 08:00:00"), -3601);
  EXPECT_EQ(SecondsBetween("2014-03-19 08:00:00", "2014-03-19 08:00:00"), 0);
}

TEST(SecondsBetween, CrossesMidnightWithinAMonth) {
  EXPECT_EQ(SecondsBetween("2014-03-19 23:59:00", "2014-03-20 00:01:00"), 120);
}

TEST(SecondsBetween, ReadsOnlyTheDayOfMonth) {
  EXPECT_EQ(SecondsBetween("2014-03-31 23:00:00", "2014-04-01 01:00:00"), -2671200);
  EXPECT_EQ(SecondsBetween("2013-01-19 08:00:00", "2014-03-19 08:00:10"), 10);
}

TEST(SecondsBetween, WrongLengthGivesMinusOne) {
  const std::string good = "2014-03-19 08:00:00";
  for (const std::string bad : {"", "2014-03-19 08:00:0", "2014-03-19 08:00:000"}) {
    EXPECT_EQ(SecondsBetween(bad, good), -1) << bad;
    EXPECT_EQ(SecondsBetween(good, bad), -1) << bad;
  }
}

TEST(SecondsBetween, NonDigitFieldsReadAsZeroWithoutFault) {
  EXPECT_EQ(SecondsBetween("2014-03-19 08:00:00", "xxxxxxxxxxxxxxxxxxx"), -(19 * 24 + 8) * 3600);
  EXPECT_EQ(SecondsBetween("2014-03-19 08:00:00", "2014-03-1x 08:00:00"), -18 * 86400);
}

// The clock of a time is its day, hour, minute and second; a character just
// outside the digits at any of their eight places leaves it unknown.
TEST(MonthClockSeconds, IsKnownOnlyWhenAllEightPlacesAreDigits) {
  const std::string time = "2014-03-19 08:07:06";
  EXPECT_EQ(MonthClockSeconds(time), ((19 * 24 + 8) * 60 + 7) * 60 + 6);
  EXPECT_EQ(MonthClockSeconds("2014-03-31 23:59:59") - MonthClockSeconds(time),
            SecondsBetween(time, "2014-03-31 23:59:59"));
  EXPECT_EQ(MonthClockSeconds("2014-03-19 08:07:0"), -1);
  for (const std::size_t place : {8, 9, 11, 12, 14, 15, 17, 18}) {
    for (const char c : {'/', ':', 'x'}) {
      std::string bad = time;
      bad[place] = c;
      EXPECT_EQ(MonthClockSeconds(bad), -1) << bad;
    }
  }
}

TEST(ParseTrackTime, AcceptsOnlyRealDateTimes) {
  EXPECT_EQ(ParseTrackTime("1970-01-01 00:00:00"), 0);
  EXPECT_EQ(ParseTrackTime("1970-01-02 00:00:01"), 86401);
  EXPECT_TRUE(ParseTrackTime("2012-02-29 23:59:59"));
  EXPECT_TRUE(ParseTrackTime("2000-02-29 00:00:00"));
  for (const char* bad : {"1900-02-29 00:00:00", "2014-02-29 00:00:00", "2014-13-01 00:00:00",
                          "2014-00-10 00:00:00", "2014-04-31 00:00:00", "2014-03-19 24:00:00",
                          "2014-03-19 08:60:00", "2014-03-19 08:00:60", "2014-03-19T08:00:00",
                          "2014/03/19 08:00:00", "2014-03-19 08:00", "2014-03-19 08:00:00.5",
                          " 2014-03-19 08:00:0", "2014-03-19 -8:00:00", ""}) {
    EXPECT_FALSE(ParseTrackTime(bad)) << bad;
  }
}

TEST(CalendarSpan, ComponentsOfTheTimeOfDay) {
  const auto span = ComputeCalendarSpan("2014-03-19 08:00:00", "2014-03-19 09:25:40");
  ASSERT_TRUE(span);
  EXPECT_EQ(span->WholeDays(), 0);
  EXPECT_EQ(span->Hours(), 1);
  EXPECT_EQ(span->Minutes(), 25);
  EXPECT_EQ(FormatStopDuration(*span), "00天01小时25分");
}

TEST(CalendarSpan, ThreeQuartersOfADay) {
  const auto span = ComputeCalendarSpan("2014-03-19 00:00:00", "2014-03-19 18:00:00");
  ASSERT_TRUE(span);
  EXPECT_DOUBLE_EQ(span->Days(), 0.75);
  EXPECT_EQ(span->Hours(), 18);
  EXPECT_EQ(span->Minutes(), 0);
}

TEST(CalendarSpan, ReadsFullDatesAcrossMonthsAndLeapDays) {
  const auto span = ComputeCalendarSpan("2012-02-28 23:00:00", "2012-03-01 01:30:59");
  ASSERT_TRUE(span);
  EXPECT_EQ(FormatStopDuration(*span), "01天02小时30分");
  const auto year = ComputeCalendarSpan("2013-12-31 12:00:00", "2014-12-31 12:00:00");
  ASSERT_TRUE(year);
  EXPECT_EQ(year->WholeDays(), 365);
}

TEST(CalendarSpan, SecondsNeverAppear) {
  EXPECT_EQ(FormatStopDuration(*ComputeCalendarSpan("2014-03-19 08:00:00", "2014-03-19 08:05:00")),
            "00天00小时05分");
  EXPECT_EQ(FormatStopDuration(*ComputeCalendarSpan("2014-03-19 08:00:00", "2014-03-19 08:04:59")),
            "00天00小时04分");
}

TEST(CalendarSpan, NegativeSpanCarriesItsSignInEveryComponent) {
  const auto span = ComputeCalendarSpan("2014-03-20 09:30:00", "2014-03-19 08:00:00");
  ASSERT_TRUE(span);
  EXPECT_EQ(span->WholeDays(), -1);
  EXPECT_EQ(span->Hours(), -1);
  EXPECT_EQ(span->Minutes(), -30);
  EXPECT_EQ(FormatStopDuration(*span), "-1天-1小时-30分");
  const auto small = ComputeCalendarSpan("2014-03-19 08:00:30", "2014-03-19 08:00:00");
  EXPECT_EQ(small->WholeDays(), 0);
  EXPECT_EQ(small->Hours(), 0);
  EXPECT_EQ(small->Minutes(), 0);
}

TEST(CalendarSpan, FailsWhenEitherTimeDoesNotParse) {
  EXPECT_FALSE(ComputeCalendarSpan("2014-03-19 08:00", "2014-03-19 09:00:00"));
  EXPECT_FALSE(ComputeCalendarSpan("2014-03-19 08:00:00", ""));
}

}  // namespace
}  // namespace cuserver
