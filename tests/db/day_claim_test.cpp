// Claims on a day in the day ledger: of processes that begin one command's
// day and shard at once only one computes it; a holder that died or went
// silent is taken over. On a real SQLite file and the test server.
#include <gtest/gtest.h>
#include <fmt/format.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "db/backends.hpp"
#include "db/ledger.hpp"

namespace cuserver::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kStaleAfter = std::chrono::seconds(1800);

std::string UtcSecondsAgo(int seconds) {
  const std::time_t time = std::time(nullptr) - seconds;
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

long DeadPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

class DayClaimTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (!HasFatalFailure()) Ledger(Db()).EnsureTables();
  }

  // A day left running by a process that is not this test.
  void Running(const std::string& day, const std::string& host, long pid, const std::string& started,
               const std::optional<std::string>& heartbeat) {
    Db().ExecuteStatement(fmt::format(
        "insert into cuserver_days (command, day, shard, attempts, host, pid, started, outcome, heartbeat) "
        "values ('run-day', '{}', '1/1', 1, '{}', {}, '{}', 'running', {})",
        day, host, pid, started, heartbeat ? "'" + *heartbeat + "'" : std::string("NULL")));
  }

  // Whose the day is after a claim by this process as host "taker": "taker",
  // or the message that refused it.
  std::string ClaimBy(const std::string& day) {
    try {
      Ledger(Db()).BeginDay(kDayRunCommand, day, "1/1", "taker", static_cast<long>(getpid()), "2014-03-20 02:00:00",
                            kStaleAfter);
      return "taker";
    } catch (const DayClaimedError& error) {
      return error.what();
    }
  }
};

// Every round, four sessions begin the same day at once: for a day without a
// row (they race to insert it) and again after it ended (they race to update).
TEST_P(DayClaimTest, OfSessionsRacingForADayExactlyOneWins) {
  constexpr int kSessions = 4;
  for (int round = 0; round < 6; ++round) {
    const std::string day = fmt::format("201403{:02}", 10 + round / 2);
    std::atomic<int> ready{0};
    std::vector<std::string> outcome(kSessions);
    std::vector<std::thread> threads;
    for (int i = 0; i < kSessions; ++i) {
      threads.emplace_back([&, i] {
        ReportDatabase db;
        Database().Open(db);
        ++ready;
        while (ready < kSessions) std::this_thread::yield();
        try {
          Ledger(db).BeginDay(kDayRunCommand, day, "1/1", fmt::format("host-{}", i), 100 + i, "2014-03-20 02:00:00",
                              kStaleAfter);
          outcome[static_cast<std::size_t>(i)] = "won";
        } catch (const DayClaimedError& error) {
          outcome[static_cast<std::size_t>(i)] = error.Holder().host;
        } catch (const std::exception& error) {
          outcome[static_cast<std::size_t>(i)] = std::string("error: ") + error.what();
        }
      });
    }
    for (auto& thread : threads) thread.join();
    std::string winner;
    for (int i = 0; i < kSessions; ++i) {
      if (outcome[static_cast<std::size_t>(i)] == "won") winner = fmt::format("host-{}", i);
    }
    SCOPED_TRACE(fmt::format("round {}: {}, {}, {}, {}", round, outcome[0], outcome[1], outcome[2], outcome[3]));
    ASSERT_FALSE(winner.empty());
    for (const std::string& one : outcome) EXPECT_TRUE(one == "won" || one == winner) << one;
    EXPECT_EQ(std::count(outcome.begin(), outcome.end(), "won"), 1);
    const auto rows = Ledger(Db()).Days(kDayRunCommand, day, day);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].host, winner);
    EXPECT_EQ(rows[0].attempts, round % 2 + 1);
    Ledger(Db()).EndDay(kDayRunCommand, day, "1/1", DayOutcome::Failed, DayCounts{}, "2014-03-20 02:01:00", "");
  }
}

struct HolderCase {
  const char* what;
  std::string host;
  long pid;
  std::string started;
  std::optional<std::string> heartbeat;
  bool takenOver;
};

TEST_P(DayClaimTest, DeadOrSilentHolderIsTakenOverAndALiveOneIsNot) {
  const std::vector<HolderCase> cases{
      {"another machine, heartbeat a minute ago", "elsewhere", 4242, "2014-03-20 02:00:00", UtcSecondsAgo(60), false},
      {"another machine, no heartbeat for an hour", "elsewhere", 4242, "2014-03-20 02:00:00", UtcSecondsAgo(3600),
       true},
      {"this machine, process alive", "taker", static_cast<long>(getppid()), "2014-03-20 02:00:00",
       UtcSecondsAgo(60), false},
      {"this machine, process gone", "taker", DeadPid(), "2014-03-20 02:00:00", UtcSecondsAgo(1), true},
      {"written before heartbeats, started long ago", "elsewhere", 4242, "2014-03-20 02:00:00", std::nullopt, true},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const HolderCase& holder = cases[i];
    SCOPED_TRACE(holder.what);
    const std::string day = fmt::format("201403{:02}", 10 + i);
    Running(day, holder.host, holder.pid, holder.started, holder.heartbeat);
    const std::string by = ClaimBy(day);
    if (holder.takenOver) {
      EXPECT_EQ(by, "taker");
      const auto rows = Ledger(Db()).Days(kDayRunCommand, day, day);
      EXPECT_EQ(rows.at(0).attempts, 2);
      EXPECT_EQ(rows.at(0).outcome, DayOutcome::Running);
    } else {
      EXPECT_EQ(by, fmt::format("run-day {} (shard 1/1) is being computed by process {} on {} since {}; it is not "
                                "computed twice at once",
                                day, holder.pid, holder.host, holder.started));
    }
  }
}

// A holder that renews its heartbeat keeps the day; one that was taken over
// and ends late leaves the new holder's row alone.
TEST_P(DayClaimTest, HeartbeatKeepsTheClaimAndALateEndLeavesTheNewHolderAlone) {
  Ledger ledger(Db());
  const DayClaim first =
      ledger.BeginDay(kDayRunCommand, "20140319", "1/1", "elsewhere", 4242, "2014-03-20 02:00:00", kStaleAfter);
  const std::string silent = fmt::format("update cuserver_days set heartbeat='{}'", UtcSecondsAgo(3600));
  Db().ExecuteStatement(silent);
  ledger.RefreshClaim(first);
  EXPECT_NE(ClaimBy("20140319"), "taker");

  Db().ExecuteStatement(silent);
  EXPECT_EQ(ClaimBy("20140319"), "taker");
  ledger.EndDay(first, DayOutcome::Complete, DayCounts{5, 5, 0, 9, 0, 0}, "2014-03-20 03:00:00", "");
  const auto rows = ledger.Days(kDayRunCommand, "20140319", "20140319");
  EXPECT_EQ(rows.at(0).host, "taker");
  EXPECT_EQ(rows.at(0).outcome, DayOutcome::Running);
}

// Runs of one day split differently share vehicles: while one lives the
// other is refused naming it, and the refused one leaves the ledger as it was.
TEST_P(DayClaimTest, RunsOfADaySplitDifferentlyExcludeEachOther) {
  struct SplitCase {
    std::string holderShard;
    long holderPid;
    std::string claimedShard;
    bool refused;
  };
  const long alive = static_cast<long>(getppid());
  const std::vector<SplitCase> cases{
      {"1/1", alive, "1/2", true},       {"1/2", alive, "1/1", true},  {"1/2", alive, "1/3", true},
      {"1/2", alive, "2/2", false},      {"1/2", DeadPid(), "1/1", false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const SplitCase& c = cases[i];
    SCOPED_TRACE(c.holderShard + " held, " + c.claimedShard + " claimed");
    const std::string day = fmt::format("201404{:02}", 10 + i);
    Ledger ledger(Db());
    // An earlier attempt of the claimed shard, which a refusal leaves as it was.
    ledger.BeginDay(kDayRunCommand, day, c.claimedShard, "taker", 1, "2014-03-02 02:00:00", kStaleAfter);
    ledger.EndDay(kDayRunCommand, day, c.claimedShard, DayOutcome::Incomplete, DayCounts{4, 3, 1, 7, 0, 0},
                  "2014-03-02 03:00:00", "1 vehicles skipped");
    ledger.BeginDay(kDayRunCommand, day, c.holderShard, "taker", c.holderPid, "2014-04-20 02:00:00", kStaleAfter);
    std::string by = "taker";
    try {
      ledger.BeginDay(kDayRunCommand, day, c.claimedShard, "taker", static_cast<long>(getpid()), "2014-04-20 02:05:00",
                      kStaleAfter);
    } catch (const DayClaimedError& error) {
      by = error.what();
    }
    const auto rows = ledger.Days(kDayRunCommand, day, day);
    const auto claimed = std::find_if(rows.begin(), rows.end(), [&](const DayRecord& row) {
      return row.shard == c.claimedShard;
    });
    ASSERT_NE(claimed, rows.end());
    if (c.refused) {
      EXPECT_EQ(by, fmt::format("run-day {} (shard {}) is being computed by process {} on taker since 2014-04-20 "
                                "02:00:00; it is not computed twice at once",
                                day, c.holderShard, c.holderPid));
      EXPECT_EQ(claimed->outcome, DayOutcome::Incomplete);
      EXPECT_EQ(claimed->attempts, 1);
      EXPECT_EQ(claimed->detail, "1 vehicles skipped");
    } else {
      EXPECT_EQ(by, "taker");
      EXPECT_EQ(claimed->outcome, DayOutcome::Running);
      EXPECT_EQ(claimed->attempts, 2);
    }
  }
}

CUSERVER_ON_EVERY_BACKEND(DayClaimTest);

}  // namespace
}  // namespace cuserver::test
