#include <gtest/gtest.h>

#include "fakes.hpp"
#include "reports/area_speeding.hpp"

namespace cuserver {
namespace {

using testing::Fix;
using testing::LoadTrack;
using testing::ReportBench;
using testing::TrackTime;

const std::string kArea = "学校区";
const std::string kInside = "35.5";
const std::string kOutside = "30.0";

class AreaSpeeding : public ::testing::Test {
 protected:
  AreaSpeeding() {
    bench.geo.areaAt = [](double latitude, double) -> std::string {
      if (latitude >= 36.0) return "学校区,医院区";  // two overlapping areas
      return latitude >= 35.0 ? "学校区" : "区域外面";
    };
  }
  // One fix per (seconds after 09:00:00, speed, latitude); longitude 116.<i>.
  void Add(int seconds, const std::string& speed, const std::string& latitude) {
    fixes.push_back({TrackTime(9 * 3600 + seconds), speed, "116." + std::to_string(fixes.size()), latitude});
  }
  void Run(const std::string& limit = "60", int n = -1) {
    LoadTrack(bench.track, fixes);
    EXPECT_EQ(ComputeAreaSpeeding(bench.Context(), n < 0 ? bench.track.Count() : n, "13900000001", "key-7", kArea,
                                  limit),
              0);
  }
  std::vector<Fix> fixes;
  ReportBench bench;
};

TEST_F(AreaSpeeding, ThirtyOneSecondsIsOneExactRow) {
  Add(0, "70", kInside);
  Add(10, "75", kInside);
  Add(31, "50", kInside);
  Run();
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_EQ(bench.sink.statements[0].text,
            "insert into speedalarm201403 (SIMID,TIMELOG,ENDTIME,TOTTIME,SPEED,REMARK,DISTANCE,LATITUDE,LONGITUDE)"
            "values('13900000001','2014-03-19 09:00:00','2014-03-19 09:00:31','31','75.00','学校区','0.00',"
            "'35.5','116.1')");
}

TEST_F(AreaSpeeding, ThirtySecondsIsNoRow) {
  Add(0, "70", kInside);
  Add(30, "50", kInside);
  Run();
  EXPECT_TRUE(bench.sink.statements.empty());
  EXPECT_TRUE(bench.fixes.queries.empty());
}

TEST_F(AreaSpeeding, EnteringFastOpensAndLeavingFastCloses) {
  Add(0, "90", kOutside);
  Add(10, "90", kInside);
  Add(20, "95", kInside);
  Add(60, "99", kOutside);
  Run();
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_NE(bench.sink.statements[0].text.find("'2014-03-19 09:00:10','2014-03-19 09:01:00','50','95.00'"),
            std::string::npos)
      << bench.sink.statements[0].text;
}

TEST_F(AreaSpeeding, SpeedAtTheLimitKeepsTheStretchOpen) {
  Add(0, "70", kInside);
  Add(20, "60", kInside);
  Add(40, "60.0", kInside);
  Add(50, "59.9", kInside);
  Run();
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_NE(bench.sink.statements[0].text.find("'2014-03-19 09:00:00','2014-03-19 09:00:50','50','70.00'"),
            std::string::npos);
}

TEST_F(AreaSpeeding, StretchOpenAtTheEndIsNotWritten) {
  Add(0, "70", kInside);
  Add(100, "70", kInside);
  Run();
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST_F(AreaSpeeding, EachEntryIsItsOwnScan) {
  Add(0, "70", kInside);
  Add(40, "85", kInside);
  Add(80, "50", kInside);
  Run("60");
  Run("80");
  ASSERT_EQ(bench.sink.statements.size(), 2u);
  EXPECT_NE(bench.sink.statements[0].text.find("'2014-03-19 09:00:00','2014-03-19 09:01:20','80','85.00'"),
            std::string::npos);
  EXPECT_NE(bench.sink.statements[1].text.find("'2014-03-19 09:00:40','2014-03-19 09:01:20','40','85.00'"),
            std::string::npos);
}

TEST_F(AreaSpeeding, PositionInTwoOverlappingAreasIsOutside) {
  Add(0, "90", "36.5");
  Add(100, "90", "36.5");
  Add(200, "10", "36.5");
  Run();
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST_F(AreaSpeeding, ScansOnlyTheFirstNFixes) {
  Add(0, "70", kInside);
  Add(40, "70", kInside);
  Add(80, "10", kInside);
  Run("60", 2);
  EXPECT_TRUE(bench.sink.statements.empty());
  EXPECT_EQ(bench.geo.areaCalls, 2);
}

TEST_F(AreaSpeeding, DistanceOfTheStretchFromTheDayTable) {
  Add(0, "70", kInside);
  Add(100, "10", kInside);
  bench.fixes.rows["select * from GPSDATA20140319 where SIMID='13900000001' and time>'2014-03-19 09:00:00' and "
                   "time<'2014-03-19 09:01:40' and (Speed<>0) and (Speed<>3.704) order by time asc"] = {{"1", "0"},
                                                                                                       {"2", "0"}};
  bench.geo.distance = [](double, double, double, double) { return 2505.0; };
  Run();
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_NE(bench.sink.statements[0].text.find("'学校区','2.50'"), std::string::npos) << bench.sink.statements[0].text;
}

TEST_F(AreaSpeeding, AreaTestFailureEndsTheReport) {
  Add(0, "70", kInside);
  bench.geo.areaAt = [](double, double) -> std::string { throw std::runtime_error("no point class"); };
  EXPECT_THROW(Run(), std::runtime_error);
}

TEST_F(AreaSpeeding, GarbledFixesAndLimitNeitherCrashNorWrite) {
  fixes = {{"", "70", "", kInside}, {"bad", "x", "116", "y"}, {"2014-03-19 09:00:00", "", "116", kInside},
           {"2014-03-19 09:10:00", "90", "116", kInside}, {"", "10", "116", kInside}};
  Run("abc");
  Run("");
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST(WriteAreaSpeedingRow, ResultTellsWhetherARowWasWritten) {
  ReportBench bench;
  const ReportContext ctx = bench.Context();
  EXPECT_EQ(WriteAreaSpeedingRow(ctx, "1390", "2014-03-19 09:00:00", "", kArea, 70, "35", "116"), -1);
  EXPECT_EQ(WriteAreaSpeedingRow(ctx, "1390", "2014-03-19 09:00:00", "2014-03-19 09:00:30", kArea, 70, "35", "116"),
            -1);
  EXPECT_EQ(WriteAreaSpeedingRow(ctx, "1390", "2014-03-19 09:00:00", "2014-03-19 09:00:31", "O'Hare", 70, "35", "116"),
            0);
  EXPECT_NE(bench.sink.statements.at(0).text.find("'O''Hare'"), std::string::npos);
  bench.sink.refuse = [](const std::string&) { return true; };
  EXPECT_EQ(WriteAreaSpeedingRow(ctx, "1390", "2014-03-19 09:00:00", "2014-03-19 09:00:31", kArea, 70, "35", "116"),
            -1);
}

}  // namespace
}  // namespace cuserver
