#include <gtest/gtest.h>

#include "fakes.hpp"
#include "reports/line_alarms.hpp"

namespace cuserver {
namespace {

using testing::Fix;
using testing::LoadTrack;
using testing::ReportBench;

// Fixes east of longitude 103.0 lie on the highway in these tests.
const std::string kOn = "103.5";
const std::string kOff = "102.5";

Fix At(const std::string& time, const std::string& longitude) {
  return Fix{"2014-03-19 " + time, "60", longitude, "23.378"};
}

class LineAlarms : public ::testing::Test {
 protected:
  LineAlarms() {
    bench.geo.onHighway = [](double latitude, double longitude) {
      return latitude > 20 && latitude < 30 && longitude > 103.0 ? 1 : 0;
    };
  }
  LineAlarmScan Run(const std::vector<Fix>& fixes, const std::string& simId = "13900000001") {
    LoadTrack(bench.track, fixes, simId);
    return ScanLineAlarms(bench.track, bench.track.Count(), bench.geo, bench.sink);
  }
  ReportBench bench;
};

TEST_F(LineAlarms, TrackStartingOnHighwayOpensAtItsFirstFixAndClosesAtTheFirstFixOff) {
  LineAlarmScan scan = Run({At("08:00:00", kOn), At("08:01:00", kOn), At("08:02:30", kOff), At("08:03:00", kOff)});
  EXPECT_EQ(bench.Statements(),
            (std::vector<std::string>{
                "insert into LINEALARMREPROT (SIMID,BEGINTIME,REMARK)values('13900000001','2014-03-19 "
                "08:00:00','001')",
                "update LINEALARMREPROT set ENDTIME='2014-03-19 08:02:30',TOTTIME =150 where "
                "SIMID='13900000001' and BEGINTIME='2014-03-19 08:00:00' "}));
  EXPECT_EQ(bench.sink.statements[0].table, "LINEALARMREPROT");
  EXPECT_EQ(bench.sink.statements[1].simId, "13900000001");
  EXPECT_EQ(scan.opened, 1);
  EXPECT_EQ(scan.closed, 1);
  EXPECT_FALSE(scan.leftOpen);
}

TEST_F(LineAlarms, TrackEndingOnHighwayLeavesItsLastStretchOpen) {
  LineAlarmScan scan = Run({At("22:00:00", kOff), At("23:00:00", kOn), At("23:59:00", kOn)});
  ASSERT_EQ(bench.Statements().size(), 1u);
  EXPECT_EQ(bench.Statements()[0],
            "insert into LINEALARMREPROT (SIMID,BEGINTIME,REMARK)values('13900000001','2014-03-19 "
            "23:00:00','001')");
  EXPECT_TRUE(scan.leftOpen);
  EXPECT_EQ(scan.closed, 0);
}

TEST_F(LineAlarms, TrackEntirelyOffHighwaysWritesNothingAfterOneTestPerFix) {
  LineAlarmScan scan = Run({At("08:00:00", kOff), At("08:01:00", kOff), At("08:02:00", kOff)});
  EXPECT_TRUE(bench.Statements().empty());
  EXPECT_EQ(bench.geo.highwayCalls, 3);
  EXPECT_EQ(scan.opened, 0);
  EXPECT_FALSE(scan.leftOpen);
}

TEST_F(LineAlarms, NoFixesWritesNothingAndAsksNothing) {
  LineAlarmScan scan = Run({});
  EXPECT_TRUE(bench.Statements().empty());
  EXPECT_EQ(bench.geo.highwayCalls, 0);
  EXPECT_FALSE(scan.leftOpen);
}

TEST_F(LineAlarms, EachStretchIsItsOwnRowWithItsOwnDuration) {
  Run({At("08:00:00", kOn), At("08:00:10", kOff), At("09:59:50", kOn), At("10:00:05", kOn),
       At("10:01:00", kOff)});
  auto statements = bench.Statements();
  ASSERT_EQ(statements.size(), 4u);
  EXPECT_NE(statements[1].find("TOTTIME =10 where"), std::string::npos) << statements[1];
  EXPECT_NE(statements[2].find("'2014-03-19 09:59:50','001'"), std::string::npos) << statements[2];
  EXPECT_NE(statements[3].find("ENDTIME='2014-03-19 10:01:00',TOTTIME =70 where"), std::string::npos)
      << statements[3];
  EXPECT_NE(statements[3].find("BEGINTIME='2014-03-19 09:59:50' "), std::string::npos) << statements[3];
}

TEST_F(LineAlarms, HighwayIsAskedLatitudeFirst) {
  std::vector<std::pair<double, double>> asked;
  bench.geo.onHighway = [&asked](double latitude, double longitude) {
    asked.emplace_back(latitude, longitude);
    return 0;
  };
  Run({Fix{"2014-03-19 08:00:00", "0", "103.3496", "23.378333"}});
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_DOUBLE_EQ(asked[0].first, 23.378333);
  EXPECT_DOUBLE_EQ(asked[0].second, 103.3496);
}

TEST_F(LineAlarms, QuoteInSimIdReachesTheStatementsDoubled) {
  Run({At("08:00:00", kOn), At("08:01:00", kOff)}, "13'9");
  auto statements = bench.Statements();
  ASSERT_EQ(statements.size(), 2u);
  EXPECT_NE(statements[0].find("values('13''9',"), std::string::npos) << statements[0];
  EXPECT_NE(statements[1].find("where SIMID='13''9' and"), std::string::npos) << statements[1];
  EXPECT_EQ(bench.sink.statements[0].simId, "13'9");
}

TEST_F(LineAlarms, RefusedOpeningRowIsCountedAndTheScanGoesOn) {
  bench.sink.refuse = [](const std::string& statement) { return statement.rfind("insert", 0) == 0; };
  LineAlarmScan scan = Run({At("08:00:00", kOn), At("08:01:00", kOff), At("08:02:00", kOn)});
  EXPECT_EQ(scan.refused, 2);
  EXPECT_EQ(scan.closed, 1);  // the update runs and matches no row
  EXPECT_TRUE(scan.leftOpen);
  EXPECT_EQ(bench.diagnostics.RefusedRows(), 2);
}

TEST_F(LineAlarms, ScanStopsAfterTheNthFix) {
  LoadTrack(bench.track, {At("08:00:00", kOff), At("08:01:00", kOn), At("08:02:00", kOn)});
  LineAlarmScan scan = ScanLineAlarms(bench.track, 1, bench.geo, bench.sink);
  EXPECT_EQ(bench.geo.highwayCalls, 1);
  EXPECT_TRUE(bench.Statements().empty());
  EXPECT_FALSE(scan.leftOpen);
}

TEST_F(LineAlarms, ShortOrGarbledTimeGivesZeroForItsMissingPartsAndNeverFails) {
  Run({Fix{"2014-03-19 08", "0", kOn, "23.378"}, Fix{"2014-03-19 08:00:30", "0", kOff, "23.378"}});
  auto statements = bench.Statements();
  ASSERT_EQ(statements.size(), 2u);
  EXPECT_NE(statements[1].find("TOTTIME =30 where"), std::string::npos) << statements[1];
}

TEST(LineAlarmRows, RemarkIsTheHighwayCodeAsThreeDigits) {
  ReportBench bench;
  EXPECT_EQ(OpenLineAlarm(bench.sink, "1", "t", 12), 0);
  EXPECT_EQ(bench.Statements().at(0), "insert into LINEALARMREPROT (SIMID,BEGINTIME,REMARK)values('1','t','012')");
  bench.sink.refuse = [](const std::string&) { return true; };
  EXPECT_EQ(OpenLineAlarm(bench.sink, "1", "t", 1), -1);
  EXPECT_EQ(CloseLineAlarm(bench.sink, "1", "t", "u", 5), -1);
}

}  // namespace
}  // namespace cuserver
