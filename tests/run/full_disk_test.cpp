// A SQLite day run on a disk that fills up: a tmpfs barely larger than the
// database. Mounting needs root (or CAP_SYS_ADMIN); elsewhere it is skipped.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <filesystem>
#include <fstream>

#include "backend_database.hpp"
#include "map/map_services.hpp"
#include "run/day_run.hpp"
#include "support/temp_dir.hpp"

namespace cuserver {
namespace {

class SmallDisk {
 public:
  SmallDisk(const std::filesystem::path& at, std::uintmax_t bytes) : at_(at) {
    std::filesystem::create_directories(at_);
    mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", 0, ("size=" + std::to_string(bytes)).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }

 private:
  std::filesystem::path at_;
  bool mounted_ = false;
};

TEST(FullDisk, RefusedRowsNameTableAndVehicleAndTheDayIsRecordedIncomplete) {
  BackendDatabase database("sqlite3");
  SimulateTestFleet(database);
  auto map = CreateMapServices(30);
  map->LoadGeoset(database.Folder() / "HighWay" / "HIGHWAY.gst");
  std::ofstream(database.Folder() / "report.ini") << "[General]\r\nGENERALWAY=80\r\nHIGHWAY=120\r\n";
  RunLog runLog(database.Folder());
  SilentCaption caption;
  SpeedLimitTable limits;
  std::vector<std::string> lines;
  Diagnostics diagnostics([&lines](const std::string& line) { lines.push_back(line); });
  // A day without a track makes the month's tables, their indexes and the
  // ledger: the run on the small disk needs room for its rows alone.
  DayRunSetup setup{database.Settings(), *map, limits, database.Folder() / "report.ini", runLog, caption, diagnostics};
  DayRun("20140318", setup);

  const std::filesystem::path file = database.Folder() / "fleet.db";
  SmallDisk disk(database.Folder() / "disk", std::filesystem::file_size(file) + 96 * 1024);
  if (!disk.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
  std::filesystem::copy_file(file, database.Folder() / "disk" / "fleet.db");
  setup.connection.dataSource = (database.Folder() / "disk" / "fleet.db").string();
  lines.clear();
  const DayRunCounts counts = DayRun("20140319", setup);

  EXPECT_EQ(counts.outcome, DayOutcome::Incomplete) << counts.detail;
  EXPECT_GT(counts.recorded.rowsRefused, 0);
  int refused = 0;
  for (const std::string& line : lines) {
    if (line.rfind("row refused: ", 0) != 0) continue;
    ++refused;
    EXPECT_EQ(line.find("table ,"), std::string::npos) << line;
    EXPECT_EQ(line.find("SIMID :"), std::string::npos) << line;
  }
  EXPECT_EQ(refused, counts.recorded.rowsRefused);
  ReportDatabase db;
  db.OpenReportSession(setup.connection);
  const auto days = Ledger(db).Days(kDayRunCommand, "20140319", "20140319");
  ASSERT_EQ(days.size(), 1u);
  EXPECT_EQ(DayOutcomeText(days[0].outcome), "incomplete") << days[0].detail;
  EXPECT_EQ(days[0].counts.rowsRefused, counts.recorded.rowsRefused);
}

}  // namespace
}  // namespace cuserver
