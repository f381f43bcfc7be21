// A simulated fleet day's complete output (every report table's rows, sorted,
// the run log's bytes and the captions in the order shown) compared with a
// dump kept under tests/run/golden/. Any change to how fixes are read, held,
// computed or written that alters one byte of what a user sees fails here.
// After a deliberate change of results, CUSERVER_UPDATE_GOLDEN=1 rewrites the
// dumps; review their diff before committing them.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <soci/soci.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backend_database.hpp"
#include "db/dialect.hpp"
#include "db/value_text.hpp"
#include "map/map_services.hpp"
#include "run/day_run.hpp"

namespace cuserver {
namespace {

const std::string kDay = "20140319";

class RecordingCaption : public Caption {
 public:
  void Show(const std::string& text) override { shown.push_back(text); }
  void Progress(int done, int total) override { shown.push_back(fmt::format("[{}/{}]", done, total)); }
  std::vector<std::string> shown;
};

std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DayGoldenTest : public ::testing::TestWithParam<std::string> {
 protected:
  DayGoldenTest() : database_(GetParam()), map_(CreateMapServices(30)), runLog_(database_.Folder()) {
    SimulateTestFleet(database_);
    // Beyond the simulated fleet: catalogue entries out of SIMID order, one
    // that sorts between two others but is listed last, a SIMID with a quote,
    // a listed vehicle without fixes and fixes of a vehicle nobody lists.
    for (const std::string simId : {"13800000007", "139000000055", "13'9", "13999999999"}) {
      database_.AddVehicle(simId);
    }
    for (int minute = 0; minute < 40; ++minute) {
      const std::string time = fmt::format("{:02}:{:02}:00", 8 + minute / 20, (minute * 3) % 60);
      database_.AddFix(kDay, "13800000007", time, 103.30 + minute * 0.002, 23.378333);
      database_.AddFix(kDay, "139000000055", time, 103.35, 23.40 + minute * 0.001);
      if (minute < 5) database_.AddFix(kDay, "13'9", time, 103.31, 23.31);
      database_.AddFix(kDay, "13700000000", time, 103.32, 23.32);
    }
    map_->LoadGeoset(database_.Folder() / "HighWay" / "HIGHWAY.gst");
    std::ofstream(database_.Folder() / "report.ini")
        << "[General]\r\nUSECAR=TRUE\r\nBEGINTIME=06:30\r\nENDTIME=20:30\r\nGENERALWAY=80\r\n"
           "HIGHWAY=120\r\nHIGHSPEED=250\r\nSPEEDTIMESPAN=60\r\n";
  }

  // The day computed afresh with `jobs` workers, as one text.
  std::string Dump(int jobs) {
    // The run makes its tables: the first has none to empty.
    for (const std::string table : {"speedalarm201403", "vehicledistance201403", "parkinglog201403", "tireddriver",
                                    "CONTACTALARM", "cuserver_vehicle_days"}) {
      if (TableExists(database_.Db(), table)) database_.Execute("delete from " + table);
    }
    std::filesystem::remove(runLog_.File());
    RecordingCaption caption;
    std::vector<std::string> diagnosticLines;
    Diagnostics diagnostics([&](const std::string& line) { diagnosticLines.push_back(line); });
    DayRunSetup setup{database_.Settings(), *map_,   limits_,     database_.Folder() / "report.ini",
                      runLog_,              caption, diagnostics, jobs};
    const DayRunCounts counts = DayRun(kDay, setup);
    EXPECT_EQ(counts.skipped, 0) << diagnostics.Summary();

    std::string dump;
    for (const char* table : kTables) {
      std::vector<std::string> rows;
      soci::rowset<soci::row> result = database_.Db().Native().prepare << fmt::format("select * from {}", table);
      for (const soci::row& row : result) {
        std::string text;
        for (std::size_t i = 0; i < row.size(); ++i) text += RowValueText(row, i).value_or("NULL") + "|";
        rows.push_back(text);
      }
      std::sort(rows.begin(), rows.end());
      dump += fmt::format("== {} ({} rows)\n", table, rows.size());
      for (const auto& row : rows) dump += row + "\n";
    }
    dump += "== run log\n" + ReadBytes(runLog_.File());
    dump += "== captions\n";
    for (const auto& text : caption.shown) dump += text + "\n";
    return dump;
  }

  static constexpr const char* kTables[] = {"speedalarm201403", "vehicledistance201403", "parkinglog201403",
                                            "tireddriver", "CONTACTALARM"};
  BackendDatabase database_;
  std::unique_ptr<MapServices> map_;
  SpeedLimitTable limits_;
  RunLog runLog_;
};

TEST_P(DayGoldenTest, EveryJobCountWritesTheKeptRowsLogAndCaptions) {
  const std::filesystem::path golden =
      // The same database through ODBC writes what the native session writes.
      std::filesystem::path(CUSERVER_TEST_GOLDEN_DIR) /
      fmt::format("day_{}.txt", GetParam() == "odbc_mysql" ? "mysql" : GetParam());
  const char* update = std::getenv("CUSERVER_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(golden, std::ios::binary) << Dump(1);
  }
  const std::string expected = ReadBytes(golden);
  ASSERT_FALSE(expected.empty()) << golden << " is missing";
  for (int jobs : {1, 2, 3}) {
    const std::string dump = Dump(jobs);
    EXPECT_EQ(dump.size(), expected.size()) << "jobs " << jobs;
    // The first differing line, not a screenful of dump.
    const auto [mine, theirs] = std::mismatch(dump.begin(), dump.end(), expected.begin(), expected.end());
    if (mine != dump.end() || theirs != expected.end()) {
      const auto lineStart = [](const std::string& text, std::string::const_iterator at) {
        return text.rfind('\n', static_cast<std::size_t>(at - text.begin()) - (at == text.begin() ? 0 : 1));
      };
      const std::size_t from = lineStart(dump, mine);
      const std::size_t expectedFrom = lineStart(expected, theirs);
      ADD_FAILURE() << "jobs " << jobs << ": the day differs from " << golden << "\n  now:  "
                    << dump.substr(from == std::string::npos ? 0 : from + 1, 200) << "\n  kept: "
                    << expected.substr(expectedFrom == std::string::npos ? 0 : expectedFrom + 1, 200);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, DayGoldenTest, ::testing::ValuesIn(SqlBackends()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace cuserver
