#include <gtest/gtest.h>

#include "fakes.hpp"
#include "reports/moving_fix.hpp"
#include "reports/track_distance.hpp"

namespace cuserver {
namespace {

using testing::FixPosition;
using testing::ScriptedFixReader;
using testing::ScriptedGeo;

std::string Query(const std::string& table, const std::string& simId, const std::string& after,
                  const std::string& before) {
  return "select * from " + table + " where SIMID='" + simId + "' and time>'" + after + "' and time<'" + before +
         "' and (Speed<>0) and (Speed<>3.704) order by time asc";
}

// The moving rule's condition is built from its speeds; the text the
// databases are sent stays as it always was.
TEST(MovingFix, ConditionKeepsItsText) { EXPECT_EQ(MovingSpeedCondition(), "(Speed<>0) and (Speed<>3.704)"); }

class TrackDistanceTest : public ::testing::Test {
 protected:
  TrackDistanceTest() {
    geo.distance = [](double lon1, double lat1, double lon2, double lat2) {
      return (lon2 - lon1) * 1000.0 + (lat2 - lat1) * 1.0;
    };
  }
  ScriptedFixReader fixes;
  ScriptedGeo geo;
};

TEST_F(TrackDistanceTest, SumsConsecutiveRowsOfOneDay) {
  fixes.rows[Query("GPSDATA20140319", "1390", "2014-03-19 10:00:00", "2014-03-19 11:00:00")] = {
      {"1", "0"}, {"2", "0"}, {"4", "0"}};
  EXPECT_DOUBLE_EQ(TrackDistance(fixes, geo, "1390", "2014-03-19 10:00:00", "2014-03-19 11:00:00"), 3000.0);
  EXPECT_EQ(fixes.queries.size(), 1u);
}

TEST_F(TrackDistanceTest, SameInstantAsksAndGetsNothing) {
  EXPECT_EQ(TrackDistance(fixes, geo, "1390", "2014-03-19 10:00:00", "2014-03-19 10:00:00"), 0.0);
  EXPECT_EQ(fixes.queries,
            std::vector<std::string>{Query("GPSDATA20140319", "1390", "2014-03-19 10:00:00", "2014-03-19 10:00:00")});
}

TEST_F(TrackDistanceTest, MidnightSplitsIntoTwoDaysWithStrictBounds) {
  fixes.rows[Query("GPSDATA20140319", "1390", "2014-03-19 23:00:00", "2014-03-19 23:59:59")] = {{"1", "0"},
                                                                                                 {"2", "0"}};
  fixes.rows[Query("GPSDATA20140320", "1390", "2014-03-20 00:00:00", "2014-03-20 01:00:00")] = {{"5", "0"},
                                                                                                 {"9", "0"}};
  // The jump from the 19th's last row to the 20th's first is not counted.
  EXPECT_DOUBLE_EQ(TrackDistance(fixes, geo, "1390", "2014-03-19 23:00:00", "2014-03-20 01:00:00"), 5000.0);
  EXPECT_EQ(fixes.queries.size(), 2u);
}

TEST_F(TrackDistanceTest, DaysInBetweenAreNotRead) {
  TrackDistance(fixes, geo, "1390", "2014-03-19 12:00:00", "2014-03-21 12:00:00");
  EXPECT_EQ(fixes.queries,
            (std::vector<std::string>{Query("GPSDATA20140319", "1390", "2014-03-19 12:00:00", "2014-03-19 23:59:59"),
                                      Query("GPSDATA20140321", "1390", "2014-03-21 00:00:00", "2014-03-21 12:00:00")}));
}

TEST_F(TrackDistanceTest, OneRowOrAMissingTableGivesZero) {
  fixes.rows[Query("GPSDATA20140319", "1390", "2014-03-19 10:00:00", "2014-03-19 11:00:00")] = {{"1", "0"}};
  EXPECT_EQ(TrackDistance(fixes, geo, "1390", "2014-03-19 10:00:00", "2014-03-19 11:00:00"), 0.0);
  EXPECT_EQ(TrackDistance(fixes, geo, "1390", "2014-03-18 10:00:00", "2014-03-18 11:00:00"), 0.0);
}

TEST_F(TrackDistanceTest, AMissingFirstDayStillCountsTheSecond) {
  fixes.rows[Query("GPSDATA20140401", "1390", "2014-04-01 00:00:00", "2014-04-01 01:00:00")] = {{"1", "0"},
                                                                                                 {"3", "0"}};
  EXPECT_DOUBLE_EQ(TrackDistance(fixes, geo, "1390", "2014-03-31 23:00:00", "2014-04-01 01:00:00"), 2000.0);
}

// Regression: the reading stopped after 40000 rows, so a long episode of a busy tracker came out short.
TEST_F(TrackDistanceTest, ReadsEveryRowOfABusyDay) {
  auto& rows = fixes.rows[Query("GPSDATA20140319", "1390", "2014-03-19 00:00:00", "2014-03-19 23:59:59")];
  for (int i = 0; i < 86400; ++i) rows.push_back({"100", std::to_string(i * 0.001)});
  EXPECT_NEAR(TrackDistance(fixes, geo, "1390", "2014-03-19 00:00:00", "2014-03-19 23:59:59"), 86.399, 1e-6);
  EXPECT_EQ(geo.distanceCalls, 86399);
}

// Regression: a fix without a position was taken for longitude 0, latitude 0,
// and a step to it and back added half the Earth.
TEST_F(TrackDistanceTest, AStepRunsFromOneUsablePositionToTheNext) {
  fixes.rows[Query("GPSDATA20140319", "1390", "2014-03-19 10:00:00", "2014-03-19 11:00:00")] = {
      {"2", "1"}, {"", ""}, {"abc", "NaN"}, {"0.5x", "1"}, {"0", "0"}, {"181", "1"}, {"2.5", "-91"}, {"3", "1"}};
  EXPECT_DOUBLE_EQ(TrackDistance(fixes, geo, "1390", "2014-03-19 10:00:00", "2014-03-19 11:00:00"), 1000.0);
  EXPECT_EQ(geo.distanceCalls, 1);
}

TEST_F(TrackDistanceTest, QuotedSimIdIsDoubledInTheQuery) {
  TrackDistance(fixes, geo, "13'9", "2014-03-19 10:00:00", "2014-03-19 11:00:00");
  EXPECT_EQ(fixes.queries.at(0), Query("GPSDATA20140319", "13''9", "2014-03-19 10:00:00", "2014-03-19 11:00:00"));
}

// Regression: a time shorter than a date split forever (each half again named two dates).
TEST_F(TrackDistanceTest, TimesTooShortToNameADayGiveZeroWithoutQuery) {
  EXPECT_EQ(TrackDistance(fixes, geo, "1390", "2014", "2014-03-19 11:00:00"), 0.0);
  EXPECT_EQ(TrackDistance(fixes, geo, "1390", "", ""), 0.0);
  EXPECT_TRUE(fixes.queries.empty());
}

TEST_F(TrackDistanceTest, DateThatNamesNoPlainTableIsNotQueried) {
  EXPECT_EQ(TrackDistance(fixes, geo, "1390", "2014-03-1' 10:00:00", "2014-03-1' 11:00:00"), 0.0);
  EXPECT_TRUE(fixes.queries.empty());
}

TEST_F(TrackDistanceTest, ReadingAndDistanceFailuresPropagate) {
  fixes.rows[Query("GPSDATA20140319", "1390", "2014-03-19 10:00:00", "2014-03-19 11:00:00")] = {{"1", "0"},
                                                                                                 {"2", "0"}};
  geo.distanceFails = true;
  EXPECT_THROW(TrackDistance(fixes, geo, "1390", "2014-03-19 10:00:00", "2014-03-19 11:00:00"), std::runtime_error);
  geo.distanceFails = false;
  fixes.failWhileReading = true;
  EXPECT_THROW(TrackDistance(fixes, geo, "1390", "2014-03-19 10:00:00", "2014-03-19 11:00:00"), std::runtime_error);
}

}  // namespace
}  // namespace cuserver
