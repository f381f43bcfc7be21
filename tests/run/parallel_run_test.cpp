#include <fmt/format.h>
#include <gtest/gtest.h>
#include <soci/soci.h>

#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "backend_database.hpp"
#include "db/value_text.hpp"
#include "map/map_services.hpp"
#include "run/day_run.hpp"

namespace cuserver {
namespace {

const std::string kDay = "20140319";
const std::vector<std::string> kReportTables = {"speedalarm201403", "vehicledistance201403", "parkinglog201403",
                                                "tireddriver", "CONTACTALARM"};

class RecordingCaption : public Caption {
 public:
  void Show(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

class FailingGeo : public GeoServices {
 public:
  int IsOnHighway(double, double) override { throw std::runtime_error("map broken"); }
  std::string AreaNameAt(double, double) override { throw std::runtime_error("map broken"); }
  double DistanceMetres(double, double, double, double) override { throw std::runtime_error("map broken"); }
};

using RowSet = std::multiset<std::string>;

// Every row of a table, each as its columns' texts joined by '|'.
RowSet TableRows(ReportDatabase& db, const std::string& table) {
  RowSet rows;
  soci::rowset<soci::row> result = db.Native().prepare << "select * from " + table;
  for (const soci::row& row : result) {
    std::string text;
    for (std::size_t i = 0; i < row.size(); ++i) text += RowValueText(row, i).value_or("NULL") + "|";
    rows.insert(text);
  }
  return rows;
}

// A simulated fleet day on one backend: vehicles driving highways and speed
// areas, stops, gaps, long drives, silent vehicles and malformed fixes.
class ParallelRunTest : public ::testing::TestWithParam<std::string> {
 protected:
  ParallelRunTest()
      : database_(GetParam()),
        map_(CreateMapServices(30)),
        runLog_(database_.Folder()),
        diagnostics_([this](const std::string& line) { diagnosticLines_.push_back(line); }) {
    SimulateTestFleet(database_);
    map_->LoadGeoset(database_.Folder() / "HighWay" / "HIGHWAY.gst");
    std::ofstream(database_.Folder() / "report.ini")
        << "[General]\r\nUSECAR=TRUE\r\nBEGINTIME=06:30\r\nENDTIME=20:30\r\nGENERALWAY=80\r\n"
           "HIGHWAY=120\r\nHIGHSPEED=250\r\nSPEEDTIMESPAN=60\r\n";
  }

  DayRunCounts Run(int jobs, VehicleShard shard = {}, GeoServices* geo = nullptr) {
    caption_.shown.clear();
    DayRunSetup setup{database_.Settings(), geo ? *geo : *map_, limits_, database_.Folder() / "report.ini",
                      runLog_,              caption_,           diagnostics_, jobs,  shard};
    return DayRun(kDay, setup);
  }

  std::vector<RowSet> ReportRows() {
    std::vector<RowSet> tables;
    for (const auto& table : kReportTables) tables.push_back(TableRows(database_.Db(), table));
    return tables;
  }

  void ForgetReports() {
    for (const auto& table : kReportTables) database_.Execute("delete from " + table);
    std::filesystem::remove(runLog_.File());
  }

  std::string RunLogBytes() const {
    std::ifstream in(runLog_.File(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // The SIMIDs of the vehicle captions, in the order shown.
  std::vector<std::string> CaptionSimIds() const {
    std::vector<std::string> ids;
    for (const auto& text : caption_.shown) {
      if (text.find(" - ") != std::string::npos) ids.push_back(text.substr(0, text.find(" - ")));
    }
    return ids;
  }

  BackendDatabase database_;
  std::unique_ptr<MapServices> map_;
  SpeedLimitTable limits_;
  RunLog runLog_;
  RecordingCaption caption_;
  std::vector<std::string> diagnosticLines_;
  Diagnostics diagnostics_;
};

TEST_P(ParallelRunTest, SeveralWorkersWriteTheSameRowsLogAndCaptionsAsOne) {
  const DayRunCounts one = Run(1);
  const auto rowsOfOne = ReportRows();
  const std::string logOfOne = RunLogBytes();
  const auto captionsOfOne = CaptionSimIds();
  for (const auto& rows : rowsOfOne) EXPECT_FALSE(rows.empty()) << "the fleet should give rows to every table";
  ASSERT_EQ(captionsOfOne.size(), 36u);

  ForgetReports();
  const DayRunCounts three = Run(3);
  EXPECT_EQ(three.workers, 3);
  EXPECT_EQ(three.reported, one.reported);
  EXPECT_EQ(three.withoutFixes, one.withoutFixes);
  EXPECT_EQ(three.skipped, 0);
  EXPECT_EQ(ReportRows(), rowsOfOne);
  EXPECT_EQ(RunLogBytes(), logOfOne);
  EXPECT_EQ(CaptionSimIds(), captionsOfOne);
  EXPECT_EQ(caption_.shown.back(), "20140319数据分析完毕，请查验！");
  EXPECT_FALSE(diagnostics_.AnyFailure()) << diagnostics_.Summary();
}

TEST_P(ParallelRunTest, EachVehiclesFailureLinesStayTogetherInListOrder) {
  FailingGeo broken;
  Run(1, {}, &broken);
  const std::string logOfOne = RunLogBytes();
  ASSERT_NE(logOfOne.find("里程报表出错"), std::string::npos);
  std::filesystem::remove(runLog_.File());
  Run(4, {}, &broken);
  EXPECT_EQ(RunLogBytes(), logOfOne);
}

TEST_P(ParallelRunTest, TwoShardsRunAtOnceWriteExactlyWhatOneRunWrites) {
  Run(1);
  const auto rowsOfOne = ReportRows();
  ForgetReports();

  DayRunCounts first;
  DayRunCounts second;
  {
    RecordingCaption otherCaption;
    std::jthread other([&] {
      DayRunSetup setup{database_.Settings(), *map_,        limits_, database_.Folder() / "report.ini",
                        runLog_,              otherCaption, diagnostics_, 2, VehicleShard{2, 2}};
      second = DayRun(kDay, setup);
    });
    first = Run(2, VehicleShard{1, 2});
  }
  EXPECT_GT(first.reported + first.withoutFixes, 0);
  EXPECT_GT(second.reported + second.withoutFixes, 0);
  EXPECT_EQ(first.reported + first.withoutFixes + first.outsideShard, 36);
  EXPECT_EQ(first.outsideShard, second.reported + second.withoutFixes);
  EXPECT_EQ(ReportRows(), rowsOfOne);
  EXPECT_FALSE(diagnostics_.AnyFailure()) << diagnostics_.Summary();
}

// Rows this system did not write (another program's, an operator's) stay, even
// where they equal one of its own rows; its own rows of the day are replaced,
// so that after any number of runs, with any number of workers, the tables
// hold what one clean run of the day's present fixes writes.
TEST_P(ParallelRunTest, ReRunsReplaceTheirOwnRowsOnlyAndLeaveNoStaleRow) {
  ASSERT_EQ(Run(1).outcome, DayOutcome::Complete) << diagnostics_.Summary();
  const auto first = ReportRows();
  // One foreign twin of an existing row per table, and one row unlike any.
  for (const auto& table : kReportTables) database_.Execute(fmt::format("insert into {0} select * from {0} limit 1", table));
  database_.Execute("insert into CONTACTALARM (SIMID,BEGINTIME,ENDTIME)values('13900000001','2014-03-19 05:00:00','x')");
  std::vector<RowSet> foreign;
  {
    const auto withForeign = ReportRows();
    for (std::size_t i = 0; i < withForeign.size(); ++i) {
      RowSet rows = withForeign[i];
      for (const auto& row : first[i]) rows.erase(rows.find(row));
      foreign.push_back(rows);
    }
  }
  EXPECT_EQ(Run(1).outcome, DayOutcome::Complete);
  EXPECT_EQ(Run(3).outcome, DayOutcome::Complete) << (diagnosticLines_.empty() ? "" : diagnosticLines_.front());

  // A vehicle's fixes change: half its day is gone, another vehicle has none left.
  database_.Execute("delete from GPSDATA20140319 where simid='13900000003' and time > '2014-03-19 12:00:00'");
  database_.Execute("delete from GPSDATA20140319 where simid='13900000004'");
  EXPECT_EQ(Run(2).outcome, DayOutcome::Complete);
  const auto rerun = ReportRows();

  for (const auto& table : kReportTables) database_.Execute("delete from " + table);
  database_.Execute("delete from cuserver_vehicle_days");
  Run(1);
  auto expected = ReportRows();
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i].insert(foreign[i].begin(), foreign[i].end());
  EXPECT_EQ(rerun, expected);
  EXPECT_FALSE(diagnostics_.AnyFailure()) << diagnostics_.Summary();
}

// A fix without a longitude ends a stop: its parking row is written on every
// backend (PostgreSQL stores the empty text as NULL, as Oracle does) and is
// found again by the next run.
TEST_P(ParallelRunTest, ParkingRowOfAFixWithoutLongitudeIsWrittenAndReplaced) {
  Run(1);
  const auto stop = database_.Rows("select SimId, endTime from parkinglog201403", {"SimId", "endTime"});
  ASSERT_FALSE(stop.empty());
  database_.Execute(fmt::format("update GPSDATA20140319 set longitude = NULL where simid = '{}' and time = '{}'",
                                stop[0][0], stop[0][1].substr(0, 19)));
  const int parkingRows = database_.Count("parkinglog201403");
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(Run(1).outcome, DayOutcome::Complete) << diagnostics_.Summary();
    EXPECT_EQ(database_.Count("parkinglog201403"), parkingRows);
  }
  const auto longitude = database_.Rows(
      fmt::format("select Longitude from parkinglog201403 where SimId = {} and coalesce(cast(Longitude as varchar(30)), '') = ''",
                  stop[0][0]),
      {"Longitude"});
  EXPECT_EQ(longitude.size(), 1u);
}

TEST_P(ParallelRunTest, MoreJobsThanVehiclesUseOneWorkerPerVehicle) {
  database_.Execute("delete from vehicleinfo where simid<>'13900000001' and simid<>'13900000002'");
  const DayRunCounts counts = Run(8);
  EXPECT_EQ(counts.workers, 2);
  EXPECT_EQ(counts.reported + counts.withoutFixes, 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, ParallelRunTest, ::testing::ValuesIn(SqlBackends()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace cuserver
