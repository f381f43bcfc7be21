// The real binary on a start directory whose report.ini or map is faulty:
// which vehicles get road-speeding rows, what the run says and its status.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "run_binary.hpp"
#include "start_directory.hpp"

namespace cuserver {
namespace {

const std::string kDay = "20140319";
// Own limits: none; 50 and 55 km/h; 50 km/h on ordinary roads only.
const std::vector<std::string> kVehicles = {"13900000001", "13900000002", "13900000003"};
constexpr const char* kFlagsAndTimes = "[General]\r\nUSECAR=TRUE\r\nBEGINTIME=06:30\r\nENDTIME=20:30\r\n";

// Every vehicle drives 30 minutes at 60 km/h along the highway, then slows to 20.
void AddFleet(StartDirectory& start) {
  for (const std::string& simId : kVehicles) {
    start.AddVehicle(simId);
    start.AddDrive(kDay, simId, 30, 60);
    start.AddFix(kDay, simId, "2014-03-19 08:30:00", 103.33, 23.378333, 20);
  }
  start.Db().ExecuteStatement("update vehicleinfo set alarmspeed=50, highalarmspeed=55 where simid='13900000002'");
  start.Db().ExecuteStatement("update vehicleinfo set alarmspeed=50, highalarmspeed=0 where simid='13900000003'");
}

struct SettingsCase {
  const char* name;
  std::optional<std::string> speeds;  // the speed keys of report.ini; no file at all when absent
  std::vector<int> rows;              // road-speeding rows per vehicle, -1: its report failed
  const char* keyNamed;               // in the diagnostics, or null
};

const SettingsCase kCases[] = {
    {"sound", "GENERALWAY=80\r\nHIGHWAY=120\r\n", {0, 1, 0}, nullptr},
    {"missing file", std::nullopt, {-1, 1, -1}, "HIGHWAY"},
    {"general too long", "GENERALWAY=8000\r\nHIGHWAY=120\r\n", {-1, 1, 0}, "GENERALWAY=8000"},
    {"highway too short", "GENERALWAY=80\r\nHIGHWAY=1\r\n", {-1, 1, -1}, "HIGHWAY=1"},
    {"general missing", "HIGHWAY=120\r\n", {-1, 1, 0}, "GENERALWAY is missing"},
};

TEST(SpeedSettings, FaultyLimitFailsTheRoadSpeedingOfVehiclesWithoutTheirOwn) {
  for (const SettingsCase& c : kCases) {
    SCOPED_TRACE(c.name);
    StartDirectory start;
    AddFleet(start);
    const auto file = start.Path() / "report.ini";
    if (c.speeds) {
      std::ofstream(file, std::ios::binary) << kFlagsAndTimes << *c.speeds;
    } else {
      std::filesystem::remove(file);
    }
    const Outcome run = RunCuserver(start.Path(), "run-day " + kDay);

    int failed = 0;
    for (size_t v = 0; v < kVehicles.size(); ++v) {
      const std::string& simId = kVehicles[v];
      const std::string line = kDay + "计算" + simId + "超速报表出错";
      EXPECT_EQ(start.RunLogBytes().find(line) != std::string::npos, c.rows[v] < 0) << simId;
      const auto written = start.Rows("select count(*) as n from speedalarm201403 where SIMID='" + simId + "'", {"n"});
      EXPECT_EQ(written.at(0).at(0), std::to_string(std::max(c.rows[v], 0))) << simId;
      if (c.rows[v] < 0) ++failed;
    }
    EXPECT_EQ(run.status, failed > 0 ? 1 : 0) << run.err;
    if (c.keyNamed) {
      EXPECT_NE(run.err.find("report.ini"), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(c.keyNamed), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(std::to_string(failed) + " reports failed"), std::string::npos) << run.err;
    }
    // The other reports of a vehicle whose road speeding failed are written all the same.
    EXPECT_EQ(start.Count("vehicledistance201403"), 3);
  }
}

// GDAL-written tables whose companion file lost its contents.
TEST(DamagedMap, HighwayTableWithoutOneUsableGeometryIsRefusedNamingTheFile) {
  for (const char* damaged : {"HIGHWAY.ID", "HIGHWAY.MAP"}) {
    SCOPED_TRACE(damaged);
    StartDirectory start;
    AddFleet(start);
    const auto file = start.Path() / "HighWay" / damaged;
    const auto size = std::filesystem::file_size(file);
    std::ofstream(file, std::ios::binary) << std::string(size, '\0');
    const Outcome run = RunCuserver(start.Path(), "run-day " + kDay);
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.err.find((start.Path() / "HighWay" / "HIGHWAY.TAB").string()), std::string::npos) << run.err;
    EXPECT_FALSE(start.TableExists("speedalarm201403"));
  }
}

}  // namespace
}  // namespace cuserver
