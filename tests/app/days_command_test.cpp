// The days command through the built binary: what an operator or a script
// reads back about the days computed.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "db/ledger.hpp"
#include "run_binary.hpp"
#include "start_directory.hpp"

namespace cuserver {
namespace {

TEST(DaysCommand, JsonListsEachDaysStateAndTheExitStatusSaysWhatWentWrong) {
  StartDirectory start;
  start.WriteSettings("[General]\nBackend=sqlite3\nDataSource=fleet.db\n[Service]\nRetryLimit=2\n");
  start.AddDrive("20140318", "13900000001", 3, 60);
  start.AddDrive("20140319", "13900000001", 3, 60);
  Ledger ledger(start.Db());
  ledger.EnsureTables();
  for (const char* started : {"2014-03-20 02:00:00", "2014-03-20 03:00:00"}) {  // two attempts: the retry limit
    ledger.BeginDay(kDayRunCommand, "20140319", "1/1", "host", 7, started);
    ledger.EndDay(kDayRunCommand, "20140319", "1/1", DayOutcome::Incomplete, DayCounts{3, 2, 1, 40, 0, 0},
                  "2014-03-20 03:10:00", "1 vehicles skipped");
  }

  Outcome run = RunCuserver(start.Path(), "days --from 20140318 --to 20140320 --json");
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json days = nlohmann::json::parse(run.out)["days"];
  ASSERT_EQ(days.size(), 3u);
  EXPECT_EQ(days[0]["day"], "20140318");
  EXPECT_EQ(days[0]["state"], "not computed");
  EXPECT_EQ(days[0]["ended"], nullptr);
  EXPECT_EQ(days[1]["state"], "waiting for an operator");
  EXPECT_EQ(days[1]["attempts"], 2);
  EXPECT_EQ(days[1]["ended"], "2014-03-20 03:10:00");
  EXPECT_EQ(days[1]["detail"], "1 vehicles skipped");
  EXPECT_EQ(days[1]["shards"][0]["rowsWritten"], 40);
  EXPECT_EQ(days[1]["shards"][0]["skipped"], 1);
  EXPECT_EQ(days[2]["state"], "no GPS table");

  Outcome table = RunCuserver(start.Path(), "days --from 20140319 --to 20140319");
  EXPECT_EQ(table.status, 0) << table.err;
  EXPECT_NE(table.out.find("20140319  waiting for an operator         2  2014-03-20 03:10:00  1 vehicles skipped"),
            std::string::npos)
      << table.out;

  for (const char* bad : {"--from 20140230", "--from 20140320 --to 20140319", "--from 20130101 --to 20140319"}) {
    EXPECT_EQ(RunCuserver(start.Path(), std::string("days ") + bad).status, 2) << bad;
  }
  start.WriteSettings(
      "[General]\nBackend=postgresql\nDataSource=host=127.0.0.1 port=1 dbname=fleet connect_timeout=5\n"
      "USERID=r\nPassword=p\n");
  Outcome refused = RunCuserver(start.Path(), "days --json");
  EXPECT_EQ(refused.status, 3);
  EXPECT_NE(refused.err.find("连接数据库失败"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace cuserver
