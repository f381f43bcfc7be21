#include "run/day_run.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "map/map_services.hpp"
#include "reports/text_number.hpp"
#include "run/run_session.hpp"
#include "start_directory.hpp"

namespace cuserver {
namespace {

const std::string kDay = "20140319";

class RecordingCaption : public Caption {
 public:
  void Show(const std::string& text) override { shown.push_back(text); }
  void Progress(int done, int total) override { progress.emplace_back(done, total); }
  std::vector<std::string> shown;
  std::vector<std::pair<int, int>> progress;
};

// The real map with every question failing, as a broken map table would.
class FailingGeo : public GeoServices {
 public:
  int IsOnHighway(double, double) override { throw std::runtime_error("map broken"); }
  std::string AreaNameAt(double, double) override { throw std::runtime_error("map broken"); }
  double DistanceMetres(double, double, double, double) override { throw std::runtime_error("map broken"); }
};

class DayRunTest : public ::testing::Test {
 protected:
  DayRunTest()
      : map_(CreateMapServices(30)),
        runLog_(start_.Path()),
        diagnostics_([this](const std::string& line) { lines_.push_back(line); }) {
    map_->LoadGeoset(start_.Path() / "HighWay" / "HIGHWAY.gst");
  }

  DayRunCounts Run(const std::string& day, GeoServices* geo = nullptr) {
    DayRunSetup setup{start_.Connection(), geo ? *geo : *map_, limits_, start_.Path() / "report.ini",
                      runLog_,             caption_,           diagnostics_};
    return DayRun(day, setup);
  }

  StartDirectory start_;
  std::unique_ptr<MapServices> map_;
  SpeedLimitTable limits_;
  RunLog runLog_;
  RecordingCaption caption_;
  std::vector<std::string> lines_;
  Diagnostics diagnostics_;
};

TEST_F(DayRunTest, EmptyCatalogueGoesFromConnectedToEndCaptionAndLogsNothing) {
  DayRunCounts counts = Run(kDay);
  EXPECT_TRUE(counts.catalogueLoaded);
  EXPECT_EQ(counts.vehicles, 0);
  EXPECT_EQ(caption_.shown, (std::vector<std::string>{"连接数据库成功—进行数据处理！",
                                                      "20140319数据分析完毕，请查验！"}));
  EXPECT_EQ(start_.RunLogBytes(), "");
  EXPECT_FALSE(diagnostics_.AnyFailure());
}

TEST_F(DayRunTest, MonthTablesOfTheRunAreMadeSure) {
  Run(kDay);
  EXPECT_TRUE(start_.TableExists("speedalarm201403"));
  EXPECT_TRUE(start_.TableExists("vehicledistance201403"));
  EXPECT_TRUE(start_.TableExists("parkinglog201403"));
  EXPECT_FALSE(start_.TableExists("alarmsms201403"));
}

TEST_F(DayRunTest, VehicleWithoutFixesGetsWholeDayRowsAndNoLogLine) {
  start_.AddVehicle("13900000002");
  start_.AddDrive(kDay, "13900000009", 3, 50);  // the day table exists, with another vehicle
  DayRunCounts counts = Run(kDay);
  EXPECT_EQ(counts.withoutFixes, 1);
  EXPECT_EQ(start_.Rows("select * from CONTACTALARM", {"SIMID", "BEGINTIME", "ENDTIME"}),
            (std::vector<std::vector<std::string>>{
                {"13900000002", "2014-03-19 00:01:00", "2014-03-19 23:59:59"}}));
  auto mileage = start_.Rows("select * from vehicledistance201403",
                             {"SIMID", "BEGINTIME", "ENDTIME", "DISTANCE"});
  ASSERT_EQ(mileage.size(), 1u);
  EXPECT_EQ(mileage[0][0], "13900000002");
  EXPECT_EQ(mileage[0][1], "2014-03-19 00:01:00");
  EXPECT_EQ(mileage[0][2], "2014-03-19 23:59:59");
  EXPECT_EQ(LeadingDouble(mileage[0][3]), 0.0);
  EXPECT_EQ(start_.RunLogBytes(), "");
  EXPECT_FALSE(diagnostics_.AnyFailure()) << diagnostics_.Summary();
}

TEST_F(DayRunTest, VehicleWithFixesIsReportedAndLogsItsSuccessLine) {
  start_.AddVehicle("13900000001");
  start_.AddDrive(kDay, "13900000001", 30, 60);
  DayRunCounts counts = Run(kDay);
  EXPECT_EQ(counts.reported, 1);
  EXPECT_EQ(start_.RunLogBytes(), "20140319计算13900000001报表成功结束\r\r\n\r\n");
  auto mileage = start_.Rows("select * from vehicledistance201403", {"SIMID", "BEGINTIME", "ENDTIME"});
  EXPECT_EQ(mileage, (std::vector<std::vector<std::string>>{
                         {"13900000001", "2014-03-19 08:00:00", "2014-03-19 08:29:00"}}));
  EXPECT_EQ(start_.Count("CONTACTALARM"), 0);
  EXPECT_FALSE(diagnostics_.AnyFailure()) << diagnostics_.Summary();
}

// Regression: a fix without a position counted as longitude 0, latitude 0 and
// added half the Earth; a fix of 2013-12-31 sent the mileage row to
// vehicledistance201312 and failed the day for ever; a SIMID listed twice failed
// its second listing on the ledger's key, and a NULL SIMID the whole fleet.
TEST_F(DayRunTest, TrackerFaultsAndCatalogueFaultsGiveTheCleanVehiclesRows) {
  for (const char* simId : {"13900000001", "13900000002"}) {
    start_.AddVehicle(simId);
    start_.AddDrive(kDay, simId, 30, 60);
  }
  start_.AddVehicle("13900000002");
  start_.Db().ExecuteStatement("insert into vehicleinfo (simid, licenseplate, motorcadeid) values (NULL, 'x', '1')");
  const std::string messy = "13900000002";
  start_.Db().ExecuteStatement("insert into GPSDATA20140319 (SIMID, time, longitude, latitude, speed, ALARMSTATE) "
                               "values ('" + messy + "', '2014-03-19 08:10:30', NULL, NULL, 60, '0'), ('" + messy +
                               "', '2014-03-19 08:11:30', 0, 0, 60, '0'), ('" + messy +
                               "', '2013-12-31 23:59:00', 103.3, 23.3, 60, '0'), ('" + messy +
                               "', '2014-03-19 08:12:00', 103.312, 23.378333, 60, '0')");
  const DayRunCounts counts = Run(kDay);
  EXPECT_EQ(counts.outcome, DayOutcome::Complete) << counts.detail;
  EXPECT_EQ(counts.reported, 2);
  EXPECT_EQ(counts.catalogue.listedAgain, 1);
  EXPECT_EQ(counts.catalogue.withoutSimId, 1);
  EXPECT_FALSE(diagnostics_.AnyFailure()) << diagnostics_.Summary();
  EXPECT_FALSE(start_.TableExists("vehicledistance201312"));

  const auto mileage =
      start_.Rows("select * from vehicledistance201403 order by SIMID", {"SIMID", "BEGINTIME", "ENDTIME", "DISTANCE"});
  ASSERT_EQ(mileage.size(), 2u);
  EXPECT_EQ(mileage[1][3], mileage[0][3]) << "the same road, the same distance";
  EXPECT_EQ(mileage[1][2], mileage[0][2]);
  EXPECT_EQ(start_.Rows("select fixes, without_position, other_day, same_time, backwards, jumps from "
                        "cuserver_vehicle_days where simid = '" + messy + "'",
                        {"fixes", "without_position", "other_day", "same_time", "backwards", "jumps"}),
            (std::vector<std::vector<std::string>>{{"34", "2", "1", "1", "0", "0"}}));
}

TEST_F(DayRunTest, CaptionPerVehicleWithZeroBasedIndexThenEndCaption) {
  start_.AddVehicle("13900000001");
  start_.AddVehicle("13900000002");
  start_.AddDrive(kDay, "13900000001", 3, 0);
  Run(kDay);
  EXPECT_EQ(caption_.shown,
            (std::vector<std::string>{"连接数据库成功—进行数据处理！", "13900000001 - 0 - 20140319",
                                      "13900000002 - 1 - 20140319", "20140319数据分析完毕，请查验！"}));
  EXPECT_EQ(caption_.progress, (std::vector<std::pair<int, int>>{{0, 2}, {1, 2}, {2, 2}}));
}

TEST_F(DayRunTest, MissingDayTableSkipsEveryVehicleWithoutLogLineOrRow) {
  start_.AddVehicle("13900000001");
  start_.AddVehicle("13900000002");
  DayRunCounts counts = Run(kDay);
  EXPECT_EQ(counts.skipped, 2);
  EXPECT_EQ(diagnostics_.SkippedVehicles(), 2);
  EXPECT_EQ(start_.RunLogBytes(), "");
  EXPECT_EQ(start_.Count("CONTACTALARM"), 0);
  EXPECT_EQ(caption_.shown.back(), "20140319数据分析完毕，请查验！");
}

TEST_F(DayRunTest, FailingReportsCostOneLineEachAndTheSuccessLineStillFollows) {
  start_.AddVehicle("13900000001");
  start_.AddAreaSpeed("13900000001", "开远收费站", "40");
  start_.AddDrive(kDay, "13900000001", 30, 60);
  FailingGeo geo;
  Run(kDay, &geo);
  std::string log = start_.RunLogBytes();
  const std::string area = "20140319计算13900000001道路超速报表出错\r\r\n\r\n";
  const std::string mileage = "20140319计算13900000001里程报表出错\r\r\n\r\n";
  const std::string success = "20140319计算13900000001报表成功结束\r\r\n\r\n";
  ASSERT_EQ(log.rfind(area, 0), 0u) << log;
  EXPECT_NE(log.find(mileage), std::string::npos) << log;
  ASSERT_GE(log.size(), success.size());
  EXPECT_EQ(log.substr(log.size() - success.size()), success);
  EXPECT_LT(log.find(mileage), log.find(success));
  // Each failed report is a line of the log and a diagnostic naming the vehicle.
  int entries = 0;
  for (std::size_t at = log.find("\r\r\n\r\n"); at != std::string::npos; at = log.find("\r\r\n\r\n", at + 1)) {
    ++entries;
  }
  EXPECT_EQ(diagnostics_.FailedReports(), entries - 1);
  for (const auto& line : lines_) {
    if (line.rfind("report failed", 0) == 0) {
      EXPECT_NE(line.find("13900000001"), std::string::npos);
    }
  }
}

TEST_F(DayRunTest, AreaSpeedEntriesOfOtherVehiclesAreNotComputed) {
  start_.AddVehicle("13900000001");
  start_.AddAreaSpeed("13900000077", "开远收费站", "40");
  start_.AddDrive(kDay, "13900000001", 5, 60);
  FailingGeo geo;
  Run(kDay, &geo);
  EXPECT_EQ(start_.RunLogBytes().find("道路超速"), std::string::npos);
}

TEST_F(DayRunTest, QuotedAndChineseSimIdsReachTheRowsIntact) {
  start_.AddVehicle("13'9");
  start_.AddVehicle("车载一号");
  start_.AddDrive(kDay, "13900000009", 2, 0);
  Run(kDay);
  EXPECT_EQ(start_.Rows("select * from CONTACTALARM", {"SIMID"}),
            (std::vector<std::vector<std::string>>{{"13'9"}, {"车载一号"}}));
}

TEST_F(DayRunTest, ShortDayKeyIsUsedUnchangedWithoutCrashing) {
  start_.AddVehicle("13900000001");
  DayRunCounts counts = Run("2014");
  EXPECT_EQ(counts.skipped, 1);  // there is no table GPSDATA2014
  EXPECT_EQ(caption_.shown.back(), "2014数据分析完毕，请查验！");
}

TEST_F(DayRunTest, DayKeyThatCannotNameATableReachesNoStatement) {
  start_.AddVehicle("13900000001");
  DayRunCounts counts = Run("2014'; drop table vehicleinfo; --");
  EXPECT_EQ(counts.skipped, 1);
  EXPECT_TRUE(start_.TableExists("vehicleinfo"));
  EXPECT_EQ(start_.Count("CONTACTALARM"), 0);
}

TEST_F(DayRunTest, RefusedConnectionWritesNothing) {
  DayRunSetup setup{start_.Connection(), *map_, limits_, start_.Path() / "report.ini",
                    runLog_, caption_, diagnostics_};
  setup.connection.dataSource = (start_.Path() / "no-such-folder" / "x.db").string();
  try {
    DayRun(kDay, setup);
    FAIL() << "the run went on without a database";
  } catch (const ConnectionRefusedError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("连接数据库失败，请确认你使用了正确的用户名: ", 0), 0u)
        << error.what();
  }
  EXPECT_TRUE(caption_.shown.empty());
  EXPECT_EQ(start_.RunLogBytes(), "");
}

TEST_F(DayRunTest, VehicleListThatCannotBeLoadedEndsTheRunAsAFailure) {
  start_.AddVehicle("13900000001");
  start_.Db().ExecuteStatement("drop table motorcade");
  DayRunCounts counts = Run(kDay);
  EXPECT_FALSE(counts.catalogueLoaded);
  EXPECT_EQ(diagnostics_.Failures(), 1);
  EXPECT_EQ(caption_.shown, (std::vector<std::string>{"连接数据库成功—进行数据处理！"}));
  EXPECT_EQ(start_.Count("CONTACTALARM"), 0);
}

// Vehicles judged without their own limits would get wrong rows: a day whose
// limits or speed areas cannot be read is not computed, and waits for its
// retry. A database without the areaspeed table has no speed areas.
TEST_F(DayRunTest, DayWhoseLimitsCannotBeReadIsNotComputed) {
  struct LimitsCase {
    std::string what;
    std::string breaking;  // the statement that makes the limits unreadable
    bool loadSpeedLimits;
    DayOutcome outcome;
    std::string detail;
  };
  const std::vector<LimitsCase> cases{
      {"vehicle limits unreadable", "alter table vehicleinfo drop column alarmspeed", true, DayOutcome::Failed,
       "speed limits not loaded, no vehicle computed: "},
      {"speed areas unreadable", "alter table areaspeed drop column speedlimit", false, DayOutcome::Failed,
       "speed-area entries not loaded, no vehicle computed: "},
      {"no speed-area table", "drop table areaspeed", false, DayOutcome::Complete, ""},
  };
  for (const LimitsCase& c : cases) {
    SCOPED_TRACE(c.what);
    StartDirectory start;
    start.AddVehicle("13900000001");
    start.AddAreaSpeed("13900000001", "开远收费站", "40");
    start.AddDrive(kDay, "13900000001", 30, 60);
    start.Db().ExecuteStatement(c.breaking);
    Diagnostics diagnostics([](const std::string&) {});
    DayRunSetup setup{start.Connection(), *map_, limits_, start.Path() / "report.ini", runLog_, caption_, diagnostics};
    setup.loadSpeedLimits = c.loadSpeedLimits;
    const DayRunCounts counts = DayRun(kDay, setup);
    EXPECT_EQ(counts.outcome, c.outcome);
    EXPECT_EQ(counts.detail.substr(0, c.detail.size()), c.detail);
    EXPECT_EQ(start.Count("CONTACTALARM") + start.Count("vehicledistance201403"),
              c.outcome == DayOutcome::Complete ? 1 : 0);
    EXPECT_EQ(diagnostics.AnyFailure(), c.outcome != DayOutcome::Complete);
    Ledger ledger(start.Db());
    EXPECT_EQ(ledger.Days(kDayRunCommand, kDay, kDay).at(0).outcome, c.outcome);
  }
}

TEST_F(DayRunTest, TwoRunsOfTheSameDayWalkTheCatalogueAnewAndReplaceTheFirstRunsRows) {
  start_.AddVehicle("13900000001");
  start_.AddDrive(kDay, "13900000009", 2, 0);
  Run(kDay);
  start_.AddVehicle("13900000002");
  DayRunCounts second = Run(kDay);
  EXPECT_EQ(second.vehicles, 2);
  EXPECT_EQ(second.outcome, DayOutcome::Complete);
  EXPECT_EQ(start_.Count("CONTACTALARM"), 2);
}

}  // namespace
}  // namespace cuserver
