// Two computations of one day at once: from one start directory the second
// command is refused by the start directory's lock; from anywhere else by the
// day's claim in the ledger. Either way no row is written twice.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "app/service/instance_lock.hpp"
#include "db/ledger.hpp"
#include "run_binary.hpp"
#include "start_directory.hpp"
#include "support/wait_until.hpp"

namespace cuserver {
namespace {

const std::string kDay = "20140319";

class ConcurrentRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* simId : {"13900000001", "13900000002", "13900000003"}) {
      start_.AddVehicle(simId);
      start_.AddDrive(kDay, simId, 30, 60);
    }
  }

  StartDirectory start_;
};

TEST_F(ConcurrentRuns, SecondRunDayInOneStartDirectoryExitsThreeNamingTheFirst) {
  const pid_t first = fork();
  ASSERT_GE(first, 0);
  if (first == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (chdir(start_.Path().c_str()) != 0 || null < 0) _exit(99);
    dup2(null, 1);
    dup2(null, 2);
    execl(CUSERVER_BINARY, CUSERVER_BINARY, "run-day", kDay.c_str(), static_cast<char*>(nullptr));
    _exit(98);
  }
  // Held still once it has taken the lock, so that the second surely meets
  // it; looked for often, for the run is short.
  const bool holding = test::WaitUntil([&] { return ReadLockOwner(start_.Path()).pid == std::to_string(first); },
                                       std::chrono::seconds(30), std::chrono::milliseconds(1));
  kill(first, SIGSTOP);
  ASSERT_TRUE(holding) << "the first run-day did not take the lock";

  const Outcome second = RunCuserver(start_.Path(), "run-day " + kDay);
  kill(first, SIGCONT);
  int status = 0;
  waitpid(first, &status, 0);

  EXPECT_EQ(second.status, 3) << second.err;
  EXPECT_NE(second.err.find("process " + std::to_string(first)), std::string::npos) << second.err;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(start_.Count("vehicledistance201403"), 3);
  const auto days = Ledger(start_.Db()).Days(kDayRunCommand, kDay, kDay);
  ASSERT_EQ(days.size(), 1u);
  EXPECT_EQ(days[0].attempts, 1);
  EXPECT_EQ(days[0].outcome, DayOutcome::Complete);
}

// Another start directory, or another machine, computing the same day into
// the same database.
TEST_F(ConcurrentRuns, RunDayOfADayComputedElsewhereExitsThreeNamingHostProcessAndStart) {
  Ledger ledger(start_.Db());
  ledger.EnsureTables();
  ledger.BeginDay(kDayRunCommand, kDay, "1/1", "night-host", 4242, "2014-03-20 02:00:05");

  const Outcome run = RunCuserver(start_.Path(), "run-day " + kDay);
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_NE(run.err.find("process 4242 on night-host since 2014-03-20 02:00:05"), std::string::npos) << run.err;
  EXPECT_EQ(start_.Count("vehicledistance201403"), 0);
  const auto days = ledger.Days(kDayRunCommand, kDay, kDay);
  ASSERT_EQ(days.size(), 1u);
  EXPECT_EQ(days[0].host, "night-host");
  EXPECT_EQ(days[0].outcome, DayOutcome::Running);
}

}  // namespace
}  // namespace cuserver
