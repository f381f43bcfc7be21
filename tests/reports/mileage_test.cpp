#include <fmt/format.h>
#include <gtest/gtest.h>

#include "fakes.hpp"
#include "reports/mileage.hpp"

namespace cuserver {
namespace {

using testing::Fix;
using testing::LoadTrack;
using testing::ReportBench;
using testing::TrackTime;

// Each moving fix lies 100 m east of the previous one (the scripted distance
// is the longitude difference times 100000).
std::vector<Fix> Track(const std::vector<std::string>& speeds) {
  std::vector<Fix> fixes;
  int step = 0;
  for (const auto& speed : speeds) {
    fixes.push_back({TrackTime(8 * 3600 + 60 * step), speed, fmt::format("{}", 116.0 + 0.001 * step), "39.9"});
    ++step;
  }
  return fixes;
}

class Mileage : public ::testing::Test {
 protected:
  Mileage() {
    bench.geo.distance = [](double lon1, double, double lon2, double) { return (lon2 - lon1) * 100000.0; };
  }
  void Run(const std::vector<Fix>& fixes) {
    LoadTrack(bench.track, fixes);
    EXPECT_EQ(ComputeMileage(bench.Context(), bench.track.Count()), 0);
    ASSERT_EQ(bench.sink.statements.size(), 1u);
  }
  std::string Row() const { return bench.sink.statements.at(0).text; }
  ReportBench bench;
};

TEST_F(Mileage, ElevenMovingFixesGiveTheirOwnTimes) {
  std::vector<std::string> speeds(3, "0");
  for (int i = 0; i < 11; ++i) speeds.push_back("40");
  speeds.push_back("0");
  Run(Track(speeds));
  // Moving fixes 3..13, ten steps of 100 m.
  EXPECT_EQ(Row(), "insert into vehicledistance201403(SIMID,BEGINTIME,ENDTIME,DISTANCE)values('13900000001',"
                   "'2014-03-19 08:03:00','2014-03-19 08:13:00','1.00')");
  EXPECT_EQ(bench.sink.statements[0].table, "vehicledistance201403");
  EXPECT_EQ(bench.geo.distanceCalls, 10);
}

TEST_F(Mileage, TenMovingFixesTakeTimesFromTheUnfilteredTrack) {
  std::vector<std::string> speeds(500, "0");
  for (int i = 100; i < 120; i += 2) speeds[static_cast<std::size_t>(i)] = "30";
  Run(Track(speeds));
  // Times of fix 0 and fix 9; distance over the 10 moving fixes, nine 200 m steps.
  EXPECT_EQ(Row(), "insert into vehicledistance201403(SIMID,BEGINTIME,ENDTIME,DISTANCE)values('13900000001',"
                   "'2014-03-19 08:00:00','2014-03-19 08:09:00','1.80')");
}

TEST_F(Mileage, NoMovingFixGivesFixZeroTwiceAndNoDistance) {
  Run(Track({"0", "3.704", "3.7040", "0.0", "0"}));
  EXPECT_EQ(Row(), "insert into vehicledistance201403(SIMID,BEGINTIME,ENDTIME,DISTANCE)values('13900000001',"
                   "'2014-03-19 08:00:00','2014-03-19 08:00:00','0.0')");
  EXPECT_EQ(bench.geo.distanceCalls, 0);
}

TEST_F(Mileage, OneMovingFixEndsAtFixZero) {
  Run(Track({"0", "0", "50"}));
  EXPECT_NE(Row().find("'2014-03-19 08:00:00','2014-03-19 08:00:00','0.0'"), std::string::npos);
}

TEST_F(Mileage, SpeedJustAbove3704IsMoving) {
  Run(Track({"3.705", "0", "3.705"}));
  EXPECT_EQ(bench.geo.distanceCalls, 1);
  EXPECT_NE(Row().find("'2014-03-19 08:00:00','2014-03-19 08:01:00'"), std::string::npos);
}

TEST_F(Mileage, BadSpeedTextsAreStandingAndAFixWithoutPositionAddsNoDistance) {
  std::vector<Fix> fixes = Track({"", "abc", "-", "40", "40"});
  fixes[4].longitude = "";
  fixes[4].latitude = "NULL";
  Run(fixes);
  EXPECT_EQ(bench.geo.distanceCalls, 0);
  EXPECT_NE(Row().find("'0.0')"), std::string::npos);
}

TEST_F(Mileage, StopsAtTheFixCountEvenBeforeTheEndMark) {
  LoadTrack(bench.track, Track({"40", "40", "40", "40"}));
  ComputeMileage(bench.Context(), 2);
  EXPECT_EQ(bench.geo.distanceCalls, 1);
}

TEST_F(Mileage, DistanceServiceFailurePropagates) {
  bench.geo.distanceFails = true;
  LoadTrack(bench.track, Track({"40", "40"}));
  EXPECT_THROW(ComputeMileage(bench.Context(), 2), std::runtime_error);
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST_F(Mileage, EmptyTrackWritesNothing) {
  LoadTrack(bench.track, Track({"40", "40"}));
  bench.track.Clear();
  EXPECT_EQ(ComputeMileage(bench.Context(), 0), 0);
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST(MileageDistanceText, KilometresFromOneKilometreOn) {
  EXPECT_EQ(MileageDistanceText(0.0), "0.0");
  EXPECT_EQ(MileageDistanceText(999.99), "0.0");
  EXPECT_EQ(MileageDistanceText(-5.0), "0.0");
  EXPECT_EQ(MileageDistanceText(1000.0), "1.00");
  EXPECT_EQ(MileageDistanceText(1500.0), "1.50");
  EXPECT_EQ(MileageDistanceText(123456.0), "123.46");
}

TEST(WriteMileageRow, WholeDayRowOfASilentVehicle) {
  ReportBench bench;
  EXPECT_EQ(WriteMileageRow(bench.sink, "13'9", "2014-03-31 00:01:00", "2014-03-31 23:59:59", 0.0), 0);
  EXPECT_EQ(bench.Statements().at(0),
            "insert into vehicledistance201403(SIMID,BEGINTIME,ENDTIME,DISTANCE)values('13''9','2014-03-31 "
            "00:01:00','2014-03-31 23:59:59','0.0')");
}

TEST(WriteMileageRow, BadTableNameIsRefusedAndRecorded) {
  ReportBench bench;
  EXPECT_EQ(WriteMileageRow(bench.sink, "1390", "2014;-drop", "", 0.0, &bench.diagnostics), -1);
  EXPECT_TRUE(bench.sink.statements.empty());
  EXPECT_EQ(bench.diagnostics.RefusedRows(), 1);
}

TEST(WriteMileageRow, RefusedByTheDatabaseIsMinusOne) {
  ReportBench bench;
  bench.sink.refuse = [](const std::string&) { return true; };
  EXPECT_EQ(WriteMileageRow(bench.sink, "1390", "2014-03-31 00:01:00", "2014-03-31 23:59:59", 0.0), -1);
  EXPECT_EQ(bench.diagnostics.RefusedRows(), 1);
}

}  // namespace
}  // namespace cuserver
