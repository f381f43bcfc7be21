#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "backend_database.hpp"
#include "map/map_services.hpp"
#include "run/day_run.hpp"

namespace cuserver::test {

// The simulated fleet day on the test PostgreSQL server, with its map and
// report.ini, for the tests that take the server away in the middle of a
// run. Skipped without a server.
class ServerFleetDay : public ::testing::Test {
 protected:
  static inline const std::string kDay = "20140319";
  static inline const std::vector<std::string> kReportTables = {
      "speedalarm201403", "vehicledistance201403", "parkinglog201403", "tireddriver", "CONTACTALARM"};

  void SetUp() override {
    const auto backends = SqlBackends();
    if (std::find(backends.begin(), backends.end(), "postgresql") == backends.end()) {
      GTEST_SKIP() << "no PostgreSQL server (CUSERVER_TEST_PG)";
    }
    database_ = std::make_unique<BackendDatabase>("postgresql");
    runLog_ = std::make_unique<RunLog>(database_->Folder());
    SimulateTestFleet(*database_);
    map_ = CreateMapServices(30);
    map_->LoadGeoset(database_->Folder() / "HighWay" / "HIGHWAY.gst");
    std::ofstream(database_->Folder() / "report.ini") << "[General]\r\nGENERALWAY=80\r\nHIGHWAY=120\r\n";
  }

  DayRunCounts RunDay(const ConnectionSettings& settings, GeoServices& geo) {
    DayRunSetup setup{settings, geo, limits_, database_->Folder() / "report.ini", *runLog_, caption_, diagnostics_};
    return DayRun(kDay, setup);
  }

  // Every row of the report tables, each as its columns' texts.
  std::vector<std::vector<std::string>> ReportRows(const ConnectionSettings& settings) {
    ReportDatabase db;
    db.OpenReportSession(settings);
    std::vector<std::vector<std::string>> tables;
    for (const auto& table : kReportTables) tables.push_back(RowTexts(db, "select * from " + table));
    return tables;
  }

  std::unique_ptr<BackendDatabase> database_;
  std::unique_ptr<MapServices> map_;
  SpeedLimitTable limits_;
  std::unique_ptr<RunLog> runLog_;
  SilentCaption caption_;
  std::vector<std::string> lines_;
  Diagnostics diagnostics_{[this](const std::string& line) { lines_.push_back(line); }};
};

}  // namespace cuserver::test
