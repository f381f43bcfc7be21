// A day shared by several processes, as the pods of a Kubernetes Indexed Job
// run it: each its own start directory, `--shard index/N` with its
// JOB_COMPLETION_INDEX, one PostgreSQL database.

#include <gtest/gtest.h>
#include <soci/soci.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "backend_database.hpp"
#include "db/value_text.hpp"
#include "run_binary.hpp"

namespace cuserver {
namespace {

const char* const kTables[] = {"speedalarm201403", "vehicledistance201403", "parkinglog201403", "tireddriver",
                               "CONTACTALARM"};

std::string Keyword(const std::string& conninfo, const std::string& key) {
  const auto at = conninfo.find(key + "=");
  if (at == std::string::npos) return {};
  const auto begin = at + key.size() + 1;
  return conninfo.substr(begin, conninfo.find(' ', begin) - begin);
}

// Every report row, sorted.
std::vector<std::string> AllRows(ReportDatabase& db) {
  std::vector<std::string> rows;
  for (const char* table : kTables) {
    soci::rowset<soci::row> result = db.Native().prepare << std::string("select * from ") + table;
    for (const soci::row& row : result) {
      std::string text = std::string(table) + ":";
      for (std::size_t i = 0; i < row.size(); ++i) text += RowValueText(row, i).value_or("NULL") + "|";
      rows.push_back(text);
    }
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST(ShardProcesses, IndexedShardsCompleteTheDayOnlyAllTogetherAndWriteWhatOneRunWrites) {
  const auto backends = SqlBackends();
  if (std::find(backends.begin(), backends.end(), "postgresql") == backends.end()) {
    GTEST_SKIP() << "no PostgreSQL server (CUSERVER_TEST_PG)";
  }
  BackendDatabase database("postgresql");
  SimulateTestFleet(database);
  const std::string conninfo = std::getenv("CUSERVER_TEST_PG");
  const std::string& dataSource = database.Settings().dataSource;
  const auto path = dataSource.find("search_path=");
  ASSERT_NE(path, std::string::npos);
  const std::string schema = dataSource.substr(path + 12, dataSource.find('\'', path) - path - 12);
  std::string server = conninfo;
  for (const char* key : {"user", "password"}) {
    const auto at = server.find(std::string(key) + "=");
    if (at != std::string::npos) server.erase(at, server.find(' ', at) == std::string::npos ? std::string::npos
                                                                                             : server.find(' ', at) + 1 - at);
  }

  std::vector<test::TempDir> pods(3);
  for (auto& pod : pods) {
    std::ofstream(pod.Path() / "gpsserver.ini")
        << "[General]\nBackend=postgresql\nDataSource=" << server << " options=-csearch_path=" << schema
        << "\nUSERID=" << Keyword(conninfo, "user") << "\nPassword=" << Keyword(conninfo, "password") << "\n";
    std::ofstream(pod.Path() / "report.ini") << "[General]\r\nUSECAR=TRUE\r\nBEGINTIME=06:30\r\nENDTIME=20:30\r\n"
                                                "GENERALWAY=80\r\nHIGHWAY=120\r\nHIGHSPEED=250\r\nSPEEDTIMESPAN=60\r\n";
    std::filesystem::copy(database.Folder() / "HighWay", pod.Path() / "HighWay",
                          std::filesystem::copy_options::recursive);
  }
  const auto runShard = [&](int index) {
    return RunCuserver(pods[static_cast<std::size_t>(index)].Path(), "run-day 20140319 --shard index/3 --jobs 2",
                       "JOB_COMPLETION_INDEX=" + std::to_string(index));
  };
  const auto dayState = [&] {
    const Outcome days = RunCuserver(pods[0].Path(), "days --from 20140319 --to 20140319 --json");
    EXPECT_EQ(days.status, 0) << days.err;
    nlohmann::json listed = nlohmann::json::parse(days.out);
    if (listed.is_object()) listed = listed["days"];  // the summary form
    return listed.at(0);
  };

  // Two pods at once; the third has not run yet: the day is not complete.
  auto first = std::async(std::launch::async, runShard, 0);
  auto second = std::async(std::launch::async, runShard, 1);
  const Outcome one = first.get();
  const Outcome two = second.get();
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_EQ(two.status, 0) << two.err;
  EXPECT_NE(dayState()["state"], "complete");
  const Outcome three = runShard(2);
  ASSERT_EQ(three.status, 0) << three.err;
  const nlohmann::json day = dayState();
  EXPECT_EQ(day["state"], "complete") << day.dump();
  EXPECT_EQ(day["shards"].size(), 3u) << day.dump();
  const auto sharded = AllRows(database.Db());
  ASSERT_FALSE(sharded.empty());

  // Without a completion index "index/N" names no shard: nothing runs.
  EXPECT_EQ(RunCuserver(pods[0].Path(), "run-day 20140319 --shard index/3").status, 2);

  for (const char* table : kTables) database.Execute(std::string("delete from ") + table);
  database.Execute("delete from cuserver_vehicle_days");
  const Outcome whole = RunCuserver(pods[0].Path(), "run-day 20140319 --jobs 1");
  ASSERT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(AllRows(database.Db()), sharded);
}

}  // namespace
}  // namespace cuserver
