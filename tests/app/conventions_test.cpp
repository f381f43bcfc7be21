// The command line's conventions, through the built binary: --version, an
// unknown command, usage errors, --quiet, and --json answering one object on
// standard output whatever happened.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

#include "app/version.hpp"
#include "map/map_writer.hpp"
#include "run_binary.hpp"
#include "start_directory.hpp"

namespace cuserver {
namespace {

class Conventions : public ::testing::Test {
 protected:
  void SetUp() override {
    start_.AddVehicle("13900000001");
    start_.AddVehicle("13900000002");
    start_.AddDrive("20140319", "13900000001", 30, 60);
    WriteMapTable(start_.Path() / "HighWay" / "wxxlxl.tab",
                  RoadTable({{"530102", "01", "001", "北京路", "盘龙区", {}}}));
  }
  Outcome Cuserver(const std::string& args) { return RunCuserver(start_.Path(), args); }

  StartDirectory start_;
};

TEST_F(Conventions, StatusAndOutputOfEachConvention) {
  struct Case {
    std::string args;
    int status;
    std::string out;       // the whole standard output
    std::string errHolds;  // empty: stderr must be empty
  };
  const Case cases[] = {
      {"--version", 0, std::string("cuserver ") + kVersion + "\n", ""},
      {"foo", 2, "", "unknown command: foo"},
      {"--config x.ini fly 1", 2, "", "unknown command: fly"},
      {"highway-test", 2, "", "LAT"},
      {"highway-test 23.4", 2, "", "LON"},
      {"area-name", 2, "", "LAT"},
      {"--quiet run-day 20140319", 0, "", ""},
      {"import-roads -q", 0, "", ""},
  };
  for (const Case& c : cases) {
    const Outcome run = Cuserver(c.args);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
    EXPECT_EQ(run.out, c.out) << c.args;
    if (c.errHolds.empty()) {
      EXPECT_EQ(run.err, "") << c.args;
    } else {
      EXPECT_NE(run.err.find(c.errHolds), std::string::npos) << c.args << "\n" << run.err;
    }
  }
}

TEST_F(Conventions, JsonIsOneObjectWithTheCountsAndTheExitStatus) {
  struct Case {
    std::string args;
    int status;
    std::string table;  // a table whose rows written are counted, or empty
    int rows;
    std::size_t days;  // entries of "days"
  };
  const Case cases[] = {
      {"run-day 20140319 --json", 0, "vehicledistance201403", 2, 1},
      {"run-days 20140318 20140319 --json", 1, "vehicledistance201403", 2, 2},  // no GPS table on the 18th
      {"line-alarms 20140319 --json", 0, "LINEALARMREPROT", 1, 1},
      {"import-roads --json", 0, "roadlightmapinfo", 1, 0},
      {"days --from 20140317 --to 20140319 --json", 0, "", 0, 3},
      {"run-day 20140230 --json", 2, "", 0, 0},
      {"days --from 20140319 --to 20140318 --json", 2, "", 0, 0},
      {"run-day --json", 2, "", 0, 0},
  };
  for (const Case& c : cases) {
    const Outcome run = Cuserver(c.args);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
    nlohmann::json summary;
    ASSERT_NO_THROW(summary = nlohmann::json::parse(run.out)) << c.args << ": " << run.out;
    ASSERT_TRUE(summary.is_object()) << c.args;
    EXPECT_EQ(summary["status"], c.status) << c.args;
    EXPECT_EQ(summary["error"].is_null(), c.status == 0) << c.args << ": " << summary["error"];
    for (const char* key : {"command", "rowsWritten", "rowsRefused", "skippedVehicles", "failedReports",
                            "failures", "durationSeconds"}) {
      EXPECT_TRUE(summary.contains(key)) << c.args << ": no " << key;
    }
    if (!c.table.empty()) {
      EXPECT_EQ(summary["rowsWritten"][c.table], c.rows) << c.args << ": " << run.out;
    }
    EXPECT_EQ(summary.value("days", nlohmann::json::array()).size(), c.days) << c.args;
    if (c.args.starts_with("import-roads")) {
      EXPECT_TRUE(summary["import"].is_object()) << run.out;
    }
  }
}

}  // namespace
}  // namespace cuserver
