// simulate writes only where it wrote before or where nothing is, unless
// forced, and never beside a running service.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/service/instance_lock.hpp"
#include "db/schema.hpp"
#include "db/session.hpp"
#include "run_binary.hpp"
#include "support/temp_dir.hpp"

namespace cuserver {
namespace {

const std::string kSimulate = "simulate --vehicles 2 --day 20140319 --highway-segments 20 --areas 2";

ConnectionSettings FleetDb(const std::filesystem::path& dir) {
  ConnectionSettings settings;
  settings.dataSource = (dir / "fleet.db").string();
  return settings;
}

void ServiceDatabase(const std::filesystem::path& dir) {
  std::ofstream(dir / "fleet.db").flush();  // an empty file is an empty SQLite database
  ReportDatabase db;
  db.OpenReportSession(FleetDb(dir));
  InitDatabase(db);
  db.ExecuteStatement("insert into vehicleinfo (simid, licenseplate, motorcadeid) values ('13800000001', '云A1', '1')");
}

void ServiceMapFolder(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir / "HighWay");
  std::ofstream(dir / "HighWay" / "HIGHWAY.TAB") << "!table\n";
}

int Vehicles(const std::filesystem::path& dir) {
  ReportDatabase db;
  db.OpenReportSession(FleetDb(dir));
  auto cursor = db.OpenQuery("select count(*) as n from vehicleinfo");
  return std::stoi(cursor->Value("n").value_or("-1"));
}

struct SimulateCase {
  const char* what;
  std::function<void(const std::filesystem::path&)> before;
  std::string arguments;
  int status;
  std::vector<std::string> said;  // parts of what is printed on stderr
  int vehiclesAfter;
};

TEST(SimulateCommand, WritesOnlyWhereNothingOrItsOwnDataIsUnlessForced) {
  const std::vector<SimulateCase> cases{
      {"empty start directory", [](const auto&) {}, kSimulate, 0, {}, 2},
      {"a database and map folder simulate wrote",
       [](const auto& dir) {
         ASSERT_EQ(RunCuserver(dir, "simulate --vehicles 5 --day 20140318 --highway-segments 20").status, 0);
       }, kSimulate, 0,
       {}, 2},
      {"the tracking service's database", ServiceDatabase, kSimulate, 2,
       {"1 vehicles (vehicleinfo)", "fleet.db", "--force"}, 1},
      {"the service's map folder", ServiceMapFolder, kSimulate, 2, {"1 file (HIGHWAY.TAB)", "HighWay", "--force"},
       -1},
      {"forced over both",
       [](const auto& dir) {
         ServiceDatabase(dir);
         ServiceMapFolder(dir);
       },
       kSimulate + " --force", 0, {}, 3},
  };
  for (const SimulateCase& test : cases) {
    SCOPED_TRACE(test.what);
    TempDir dir;
    std::ofstream(dir.Path() / "gpsserver.ini") << "[General]\nBackend=sqlite3\nDataSource=fleet.db\n";
    test.before(dir.Path());
    const std::string mapBefore = ReadFile(dir.Path() / "HighWay" / "HIGHWAY.TAB");
    const Outcome run = RunCuserver(dir.Path(), test.arguments);
    EXPECT_EQ(run.status, test.status) << run.err;
    for (const std::string& part : test.said) EXPECT_NE(run.err.find(part), std::string::npos) << run.err;
    if (test.vehiclesAfter >= 0) {
      EXPECT_EQ(Vehicles(dir.Path()), test.vehiclesAfter);
    }
    if (test.status != 0) {
      EXPECT_EQ(ReadFile(dir.Path() / "HighWay" / "HIGHWAY.TAB"), mapBefore) << "the map was left as it was";
    } else {
      // What simulate wrote over others' data, it does not take for its own.
      const bool forced = test.arguments.find("--force") != std::string::npos;
      EXPECT_EQ(RunCuserver(dir.Path(), kSimulate).status, forced ? 2 : 0);
    }
  }
}

TEST(SimulateCommand, BesideARunningServiceIsStatusThreePointingToItsPage) {
  TempDir dir;
  std::ofstream(dir.Path() / "gpsserver.ini") << "[General]\nBackend=sqlite3\nDataSource=fleet.db\n";
  InstanceLock service = InstanceLock::ForService(dir.Path());
  service.Describe("http://127.0.0.1:8064/");
  const Outcome run = RunCuserver(dir.Path(), kSimulate);
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_NE(run.err.find("http://127.0.0.1:8064/"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "fleet.db"));
}

}  // namespace
}  // namespace cuserver
