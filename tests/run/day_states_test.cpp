// Day states from the day ledger and the GPS day tables, on every backend.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "backend_database.hpp"
#include "db/ledger.hpp"
#include "run/day_states.hpp"

namespace cuserver {
namespace {

constexpr int kRetryLimit = 3;

// One shard's ledger row: its last outcome after `attempts` attempts.
struct Shard {
  std::string shard;
  DayOutcome outcome;
  int attempts = 1;
  std::string detail = {};
};

struct Case {
  std::string day;
  std::vector<Shard> shards;
  bool gpsTable;
  DayState state;
  int attempts;
  std::string detail;
};

class DayStatesTest : public ::testing::TestWithParam<std::string> {
 protected:
  DayStatesTest() : database_(GetParam()), ledger_(database_.Db()) {}

  void Record(const std::string& day, const Shard& shard) {
    for (int attempt = 1; attempt <= shard.attempts; ++attempt) {
      const std::string started = "2014-04-01 01:0" + std::to_string(attempt) + ":00";
      ledger_.BeginDay(kDayRunCommand, day, shard.shard, "host", 42, started);
      if (shard.outcome == DayOutcome::Running) continue;
      DayCounts counts{.vehicles = 2, .computed = 1, .skipped = 1, .rowsWritten = 5};
      ledger_.EndDay(kDayRunCommand, day, shard.shard, shard.outcome, counts,
                     "2014-04-01 02:0" + std::to_string(attempt) + ":00", shard.detail);
    }
  }

  BackendDatabase database_;
  Ledger ledger_;
};

TEST_P(DayStatesTest, EachDayGetsTheStateOfItsShardsAndGpsTable) {
  using enum DayOutcome;
  const std::vector<Case> cases = {
      {"20140301", {{"1/1", Complete}}, true, DayState::Complete, 1, ""},
      {"20140302", {{"1/2", Complete}, {"2/2", Complete, 2}}, true, DayState::Complete, 2, ""},
      // Shards of another count do not make up for a missing one.
      {"20140303", {{"1/2", Complete}, {"2/3", Complete}, {"3/3", Complete}}, true, DayState::Incomplete, 1, ""},
      {"20140304", {{"1/2", Complete}, {"2/2", Running}}, true, DayState::Running, 1, ""},
      {"20140305", {{"1/1", Failed, 1, "no GPS table"}}, false, DayState::Failed, 1, "no GPS table"},
      {"20140306", {{"1/1", CouldNotRun, 2, "connection refused"}}, true, DayState::Failed, 2, "connection refused"},
      {"20140307", {{"1/1", Incomplete, 1, "1 vehicles skipped"}}, true, DayState::Incomplete, 1,
       "1 vehicles skipped"},
      {"20140308", {{"1/1", Incomplete, kRetryLimit, "rows refused"}}, true, DayState::WaitingForOperator,
       kRetryLimit, "rows refused"},
      {"20140309", {{"1/2", Complete}, {"2/2", Failed, kRetryLimit, "lost"}}, true, DayState::WaitingForOperator,
       kRetryLimit, "lost"},
      {"20140310", {}, true, DayState::NotComputed, 0, ""},
      {"20140311", {}, false, DayState::NoGpsTable, 0, ""},
  };
  ledger_.EnsureTables();
  for (const Case& c : cases) {
    for (const Shard& shard : c.shards) Record(c.day, shard);
    if (c.gpsTable) database_.AddFix(c.day, "13900000001", "08:00:00", 103.3, 23.4);
  }
  ledger_.BeginDay(kLineAlarmCommand, "20140311", "1/1", "host", 42, "2014-04-01 01:00:00");  // not a day run

  const std::vector<DayStatus> statuses = DayStatuses(database_.Db(), ledger_, "20140301", "20140311", kRetryLimit);
  ASSERT_EQ(statuses.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(statuses[i].day, c.day);
    EXPECT_EQ(DayStateText(statuses[i].state), DayStateText(c.state)) << c.day;
    EXPECT_EQ(statuses[i].attempts, c.attempts) << c.day;
    EXPECT_EQ(statuses[i].detail, c.detail) << c.day;
    EXPECT_EQ(statuses[i].shards.size(), c.shards.size()) << c.day;
  }
  EXPECT_EQ(statuses[1].lastEnded, "2014-04-01 02:02:00") << "the latest end of the day's shards";
}

TEST_P(DayStatesTest, ADatabaseWithoutTheLedgerHasNoComputedDay) {
  database_.AddFix("20140320", "13900000001", "08:00:00", 103.3, 23.4);
  const std::vector<DayStatus> statuses = DayStatuses(database_.Db(), ledger_, "20140228", "20140301", kRetryLimit);
  ASSERT_EQ(statuses.size(), 2u);
  EXPECT_EQ(statuses[0].day, "20140228");
  EXPECT_EQ(statuses[1].day, "20140301");
  EXPECT_EQ(statuses[1].state, DayState::NoGpsTable);
  EXPECT_EQ(DayStatuses(database_.Db(), ledger_, "20140320", "20140320", kRetryLimit)[0].state,
            DayState::NotComputed);
}

// A day left running reads as interrupted once every process running it is
// gone (this machine) or silent (another machine); the ledger keeps "running".
TEST_P(DayStatesTest, RunningDayWhoseProcessesAreGoneReadsAsInterrupted) {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  const long gone = child;
  const long alive = static_cast<long>(getpid());
  struct Holder {
    std::string shard;
    std::string host;
    long pid;
    bool silent;  // no heartbeat for an hour
  };
  struct InterruptCase {
    std::string day;
    std::vector<Holder> holders;
    DayState state;
  };
  const std::vector<InterruptCase> cases{
      {"20140401", {{"1/1", "here", gone, false}}, DayState::Interrupted},
      {"20140402", {{"1/1", "here", alive, false}}, DayState::Running},
      {"20140403", {{"1/1", "elsewhere", 4242, false}}, DayState::Running},
      {"20140404", {{"1/1", "elsewhere", 4242, true}}, DayState::Interrupted},
      {"20140405", {{"1/2", "here", gone, false}, {"2/2", "elsewhere", 4242, false}}, DayState::Running},
  };
  ledger_.EnsureTables();
  for (const InterruptCase& c : cases) {
    for (const Holder& holder : c.holders) {
      ledger_.BeginDay(kDayRunCommand, c.day, holder.shard, holder.host, holder.pid, "2014-04-06 01:00:00");
      if (holder.silent) {
        database_.Execute("update cuserver_days set heartbeat='2014-04-06 01:00:00' where day='" + c.day + "'");
      }
    }
  }
  std::vector<DayStatus> statuses = DayStatuses(database_.Db(), ledger_, "20140401", "20140405", kRetryLimit);
  MarkInterrupted(statuses, "here", std::chrono::seconds(1800));
  ASSERT_EQ(statuses.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(DayStateText(statuses[i].state), DayStateText(cases[i].state)) << cases[i].day;
    for (const DayRecord& shard : statuses[i].shards) EXPECT_EQ(shard.outcome, DayOutcome::Running);
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, DayStatesTest, ::testing::ValuesIn(SqlBackends()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace cuserver
