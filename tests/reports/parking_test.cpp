#include <gtest/gtest.h>

#include "fakes.hpp"
#include "reports/parking.hpp"

namespace cuserver {
namespace {

using testing::Fix;
using testing::LoadTrack;
using testing::ReportBench;

// Ten moving fixes that close every track, so that the fixes before them are visited.
std::vector<Fix> WithTail(std::vector<Fix> fixes) {
  for (int i = 0; i < 10; ++i) fixes.push_back({"2014-03-19 12:00:00", "40"});
  return fixes;
}

class Parking : public ::testing::Test {
 protected:
  void Run(const std::vector<Fix>& fixes) {
    LoadTrack(bench.track, fixes);
    EXPECT_EQ(ComputeParking(bench.Context(), bench.track.Count()), 0);
  }
  ReportBench bench;
};

TEST_F(Parking, StopIsWrittenAtThePositionWhereTheVehicleMovesAgain) {
  Run(WithTail({{"2014-03-19 08:00:00", "0", "116.1", "39.1"},
                {"2014-03-19 08:02:00", "0"},
                {"2014-03-19 08:06:00", "0"},
                {"2014-03-19 08:06:30", "12", "116.397", "39.908"}}));
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_EQ(bench.sink.statements[0].text,
            "insert into parkinglog201403(SimId, begintime,endTime,Longitude,Latitude,stopadd) "
            "values('13900000001','2014-03-19 08:00:00','2014-03-19 08:06:30','116.397','39.908','00天00小时06分')");
  EXPECT_EQ(bench.sink.statements[0].table, "parkinglog201403");
}

TEST_F(Parking, FiveMinutesIsTheShortestStop) {
  Run(WithTail({{"2014-03-19 08:00:00", "0"}, {"2014-03-19 08:04:59", "20"}}));
  EXPECT_TRUE(bench.sink.statements.empty());
  Run(WithTail({{"2014-03-19 08:00:00", "0"}, {"2014-03-19 08:05:00", "20"}}));
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_NE(bench.sink.statements[0].text.find("'00天00小时05分')"), std::string::npos);
}

TEST_F(Parking, AnHourWithFewMinutesCountsByItsHours) {
  Run(WithTail({{"2014-03-19 08:00:00", "0"}, {"2014-03-19 09:01:00", "20"}}));
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_NE(bench.sink.statements[0].text.find("'00天01小时01分')"), std::string::npos);
}

TEST_F(Parking, IntegerPartOfTheSpeedDecides) {
  Run(WithTail({{"2014-03-19 08:00:00", "4.99"}, {"2014-03-19 08:10:00", "5.0"}}));
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_NE(bench.sink.statements[0].text.find("'2014-03-19 08:00:00','2014-03-19 08:10:00'"), std::string::npos);
}

TEST_F(Parking, TheLastTenFixesAreNotVisited) {
  std::vector<Fix> fixes{{"2014-03-19 08:00:00", "0"}};
  for (int i = 0; i < 10; ++i) fixes.push_back({"2014-03-19 09:00:00", "40"});
  // The stop ends at the first of the last ten fixes: not written.
  Run(fixes);
  EXPECT_TRUE(bench.sink.statements.empty());
  Run({{"2014-03-19 08:00:00", "0"}, {"2014-03-19 09:00:00", "40"}});
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST_F(Parking, TwoStopsSeparatedByOneMovingFix) {
  Run(WithTail({{"2014-03-19 08:00:00", "0"},
                {"2014-03-19 08:10:00", "30"},
                {"2014-03-19 08:11:00", "0"},
                {"2014-03-19 08:20:00", "30"}}));
  EXPECT_EQ(bench.sink.statements.size(), 2u);
}

TEST_F(Parking, StopWithAnUnparsableTimeIsDroppedAndTheScanGoesOn) {
  Run(WithTail({{"2014-03-19 08:00", "0"},
                {"2014-03-19 08:10:00", "30"},
                {"2014-03-19 08:11:00", "0"},
                {"2014-02-30 08:20:00", "30"},
                {"2014-03-19 09:00:00", "0"},
                {"2014-03-19 09:30:00", "30"}}));
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_NE(bench.sink.statements[0].text.find("'00天00小时30分')"), std::string::npos);
}

TEST_F(Parking, NullSpeedIsAStop) {
  Run(WithTail({{"2014-03-19 08:00:00", ""}, {"2014-03-19 08:30:00", "abc"}, {"2014-03-19 08:40:00", "9"}}));
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_NE(bench.sink.statements[0].text.find("'00天00小时40分')"), std::string::npos);
}

TEST_F(Parking, FixCountBeyondTheLoadedTrackIsNotRead) {
  LoadTrack(bench.track, WithTail({{"2014-03-19 08:00:00", "0"}, {"2014-03-19 08:30:00", "9"}}));
  EXPECT_EQ(ComputeParking(bench.Context(), 40000), 0);
  EXPECT_EQ(bench.sink.statements.size(), 1u);
}

TEST(WriteParkingRow, ResultIsOneOrZero) {
  ReportBench bench;
  EXPECT_EQ(WriteParkingRow(bench.sink, "1390", "2014-03-19 08:00:00", "2014-03-19 09:00:00", "116", "39",
                            "00天01小时00分"),
            1);
  bench.sink.refuse = [](const std::string&) { return true; };
  EXPECT_EQ(WriteParkingRow(bench.sink, "1390", "2014-03-19 08:00:00", "2014-03-19 09:00:00", "116", "39",
                            "00天01小时00分"),
            0);
  EXPECT_EQ(bench.diagnostics.RefusedRows(), 1);
}

}  // namespace
}  // namespace cuserver
