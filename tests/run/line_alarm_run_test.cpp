#include "run/line_alarm_run.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "backend_database.hpp"
#include "db/ledger.hpp"
#include "map/map_services.hpp"
#include "map/map_writer.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

const std::string kDay = "20140319";
constexpr double kLatitude = 23.378333;  // the highway runs along it from longitude 103.30 to 103.40
constexpr double kOn = 103.35;
constexpr double kOff = 103.50;

using Rows = std::vector<std::vector<std::string>>;

class RecordingCaption : public Caption {
 public:
  void Show(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

class LineAlarmRun : public ::testing::TestWithParam<std::string> {
 protected:
  LineAlarmRun()
      : db_(GetParam()),
        map_(CreateMapServices(30)),
        diagnostics_([this](const std::string& line) { lines_.push_back(line); }) {
    MapTable highways;
    highways.fields = {"名称"};
    highways.features.push_back({MapShape::Line, {{103.30, kLatitude}, {103.40, kLatitude}}, {"G80广昆高速"}});
    WriteMapTable(db_.Folder() / "HIGHWAY.TAB", highways);
    WriteGeoset(db_.Folder() / "HIGHWAY.gst", "HIGHWAY", {"HIGHWAY.TAB"});
    map_->LoadGeoset(db_.Folder() / "HIGHWAY.gst");
  }

  LineAlarmRunCounts Run(const ConnectionSettings* connection = nullptr, int jobs = 1, GeoServices* geo = nullptr) {
    return ComputeLineAlarms(
        kDay, {connection ? *connection : db_.Settings(), geo ? *geo : *map_, caption_, diagnostics_, jobs});
  }

  Rows Alarms() {
    return db_.Rows("select * from LINEALARMREPROT order by SIMID, BEGINTIME",
                    {"SIMID", "BEGINTIME", "REMARK", "ENDTIME", "TOTTIME"});
  }

  std::string Lines() const {
    std::string all;
    for (const auto& line : lines_) all += line + "\n";
    return all;
  }

  BackendDatabase db_;
  std::unique_ptr<MapServices> map_;
  RecordingCaption caption_;
  std::vector<std::string> lines_;
  Diagnostics diagnostics_;
};

TEST_P(LineAlarmRun, OpensAndCompletesRowsShowingEachVehicleAndTheEndCaption) {
  db_.AddVehicle("13900000001");
  db_.AddVehicle("13900000002");
  db_.AddVehicle("13900000003");
  db_.AddFix(kDay, "13900000001", "08:00:00", kOff, kLatitude);
  db_.AddFix(kDay, "13900000001", "08:01:00", kOn, kLatitude);
  db_.AddFix(kDay, "13900000001", "08:02:00", kOn, kLatitude);
  db_.AddFix(kDay, "13900000001", "08:04:05", kOff, kLatitude);
  db_.AddFix(kDay, "13900000002", "23:58:00", kOn, kLatitude);  // starts and ends on the highway
  db_.AddFix(kDay, "13900000002", "23:59:00", kOn, kLatitude);

  LineAlarmRunCounts counts = Run();

  EXPECT_EQ(Alarms(), (Rows{{"13900000001", "2014-03-19 08:01:00", "001", "2014-03-19 08:04:05", "185"},
                            {"13900000002", "2014-03-19 23:58:00", "001", "NULL", "NULL"}}));
  // The vehicles come in the order the database returns them; each shows its
  // SIMID, then its SIMID with its fix count.
  ASSERT_EQ(caption_.shown.size(), 8u);
  EXPECT_EQ(caption_.shown.front(), "连接数据库成功—进行数据处理！");
  EXPECT_EQ(caption_.shown.back(), "当天数据分析完毕！请查验");
  std::vector<std::string> pairs;
  for (std::size_t i = 1; i + 1 < caption_.shown.size(); i += 2) {
    pairs.push_back(caption_.shown[i] + " " + caption_.shown[i + 1]);
  }
  std::sort(pairs.begin(), pairs.end());
  EXPECT_EQ(pairs, (std::vector<std::string>{"13900000001 13900000001-4", "13900000002 13900000002-2",
                                             "13900000003 13900000003-0"}));
  EXPECT_TRUE(counts.complete);
  EXPECT_EQ(counts.vehicles, 3);
  EXPECT_EQ(counts.fixes, 6);
  EXPECT_EQ(counts.opened, 2);
  EXPECT_EQ(counts.closed, 1);
  EXPECT_EQ(counts.leftOpen, 1);
  EXPECT_FALSE(diagnostics_.AnyFailure()) << Lines();
}

TEST_P(LineAlarmRun, RunningTheDayAgainReplacesItsRows) {
  db_.AddVehicle("13'9");
  db_.AddFix(kDay, "13'9", "10:00:00", kOn, kLatitude);
  db_.AddFix(kDay, "13'9", "10:00:30", kOff, kLatitude);
  Run();
  Run();
  EXPECT_EQ(Alarms(), (Rows{{"13'9", "2014-03-19 10:00:00", "001", "2014-03-19 10:00:30", "30"}}));
}

TEST_P(LineAlarmRun, LoadsTheRoadNames) {
  db_.Execute("insert into roadlightmapinfo (mainnumber, roadname) values ('1', '北京路')");
  EXPECT_EQ(Run().roadNames, 1);
}

TEST_P(LineAlarmRun, MissingGpsDayTableEndsTheRunNamingTheTable) {
  db_.AddVehicle("13900000001");
  db_.AddVehicle("13900000002");
  for (int jobs : {1, 2}) {
    lines_.clear();
    caption_.shown.clear();
    LineAlarmRunCounts counts = Run(nullptr, jobs);
    EXPECT_FALSE(counts.complete);
    EXPECT_EQ(counts.scanned, 0);
    ASSERT_EQ(lines_.size(), 1u) << Lines();
    EXPECT_NE(lines_[0].find("GPSDATA20140319"), std::string::npos) << lines_[0];
    const std::string first = caption_.shown.back();  // no end caption after the first vehicle's SIMID
    EXPECT_NE(lines_[0].find("vehicle " + first + " (1 of 2)"), std::string::npos) << lines_[0];
    EXPECT_EQ(caption_.shown.size(), 2u);  // nothing shown of the second vehicle
  }
  EXPECT_EQ(diagnostics_.Failures(), 2);
}

// The simulated fleet scanned by one worker and again by several: the second
// and third runs replace the first's rows with the same rows, count the same
// and show the same captions in the same order.
TEST_P(LineAlarmRun, SeveralJobsWriteCountAndShowWhatOneJobDoes) {
  SimulateTestFleet(db_);
  std::unique_ptr<MapServices> fleetMap = CreateMapServices(30);
  fleetMap->LoadGeoset(db_.Folder() / "HighWay" / "HIGHWAY.gst");
  struct Result {
    Rows rows;
    std::vector<int> counts;
    std::vector<std::string> captions;
    std::vector<int> ledger;
  };
  const auto runWith = [&](int jobs) {
    caption_.shown.clear();
    const LineAlarmRunCounts c = Run(nullptr, jobs, fleetMap.get());
    const DayRecord day = Ledger(db_.Db()).Days(kLineAlarmCommand, kDay, kDay).at(0);
    Rows rows = Alarms();
    std::sort(rows.begin(), rows.end());
    return Result{rows,
                  {c.vehicles, c.scanned, c.fixes, c.opened, c.closed, c.leftOpen, c.refused, c.lost, c.complete},
                  caption_.shown,
                  {static_cast<int>(day.outcome), day.counts.vehicles, day.counts.computed, day.counts.skipped,
                   day.counts.rowsWritten, day.counts.rowsRefused}};
  };
  const Result one = runWith(1);
  ASSERT_GT(one.rows.size(), 3u);
  ASSERT_EQ(one.counts[0], 36);
  for (int jobs : {2, 3}) {
    const Result several = runWith(jobs);
    EXPECT_EQ(several.rows, one.rows) << jobs;
    EXPECT_EQ(several.counts, one.counts) << jobs;
    EXPECT_EQ(several.captions, one.captions) << jobs;
    EXPECT_EQ(several.ledger, one.ledger) << jobs;
  }
  EXPECT_FALSE(diagnostics_.AnyFailure()) << Lines();
}

TEST_P(LineAlarmRun, MissingAlarmTableEndsTheRunBeforeAnyVehicle) {
  db_.AddVehicle("13900000001");
  db_.AddFix(kDay, "13900000001", "08:00:00", kOn, kLatitude);
  db_.Execute("drop table LINEALARMREPROT");
  LineAlarmRunCounts counts = Run();
  EXPECT_FALSE(counts.complete);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].find("LINEALARMREPROT is missing"), std::string::npos) << lines_[0];
  EXPECT_EQ(caption_.shown, std::vector<std::string>{"连接数据库成功—进行数据处理！"});
}

TEST_P(LineAlarmRun, MissingRoadTableEndsTheRunNamingIt) {
  db_.AddVehicle("13900000001");
  db_.Execute("drop table roadlightmapinfo");
  EXPECT_FALSE(Run().complete);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].find("roadlightmapinfo"), std::string::npos) << lines_[0];
}

TEST_P(LineAlarmRun, MissingVehicleTableEndsTheRun) {
  db_.Execute("drop table vehicleinfo");
  EXPECT_FALSE(Run().complete);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].find("vehicle list not loaded"), std::string::npos) << lines_[0];
}

TEST_P(LineAlarmRun, EmptyCatalogueStillEndsWithTheEndCaption) {
  LineAlarmRunCounts counts = Run();
  EXPECT_TRUE(counts.complete);
  EXPECT_EQ(caption_.shown.back(), "当天数据分析完毕！请查验");
}

TEST_P(LineAlarmRun, RefusedConnectionIsThrownBeforeAnythingIsShown) {
  ConnectionSettings refused = db_.Settings();
  if (refused.backend == Backend::Sqlite3) {
    refused.dataSource = (db_.Folder() / "no-such-folder" / "fleet.db").string();
  } else {
    refused.password = "wrong";
  }
  EXPECT_THROW(Run(&refused), ConnectionRefusedError);
  EXPECT_TRUE(caption_.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, LineAlarmRun, ::testing::ValuesIn(SqlBackends()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace cuserver
