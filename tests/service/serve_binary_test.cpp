// The built binary's `serve` as it runs unattended: under a shifted clock,
// and stopped by SIGTERM with runs queued.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include "db/ledger.hpp"
#include "start_directory.hpp"

namespace cuserver {
namespace {

using namespace std::chrono_literals;

// `cuserver serve` in a start directory, in a process group of its own (a
// wrapper such as faketime forks the service), its output in serve.log.
class ServeProcess {
 public:
  ServeProcess(const std::filesystem::path& startDirectory, const std::string& prefix = "") {
    const std::string log = (startDirectory / "serve.log").string();
    const std::string command = "cd '" + startDirectory.string() + "' && exec env -u CUSERVER_CONFIG " + prefix +
                                " '" CUSERVER_BINARY "' serve --listen 127.0.0.1:0 >>'" + log + "' 2>&1 </dev/null";
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    setpgid(pid_, pid_);
  }
  ~ServeProcess() {
    if (pid_ > 0) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // SIGTERM, then waits for the exit; the seconds it took, or nullopt when
  // it had not exited after `limit`.
  std::optional<double> Terminate(std::chrono::seconds limit) {
    const auto sent = std::chrono::steady_clock::now();
    kill(-pid_, SIGTERM);
    while (std::chrono::steady_clock::now() - sent < limit) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
      }
      std::this_thread::sleep_for(50ms);
    }
    return std::nullopt;
  }
  int ExitStatus() const { return exitStatus_; }

 private:
  pid_t pid_ = -1;
  int exitStatus_ = -1;
};

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(200ms);
  }
  return done();
}

std::string ServeLog(const StartDirectory& start) {
  std::ifstream in(start.Path() / "serve.log");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Started at 02:01 by the machine's (shifted) clock, after a night without
// a service: yesterday is computed at once.
TEST(ServeBinary, StartedAtOneMinutePastTwoComputesYesterday) {
  StartDirectory start;
  start.AddVehicle("13900000001");
  start.AddDrive("20140319", "13900000001", 30, 60);
  Ledger ledger(start.Db());
  ledger.EnsureTables();
  ledger.RecordFirstServiceDay("20140310");

  // The monotonic clock stays real, so that the service's waits end; the
  // preloaded library comes before the sanitizers' runtime.
  const char* asan = std::getenv("ASAN_OPTIONS");
  ServeProcess serve(start.Path(), "TZ=UTC FAKETIME_DONT_FAKE_MONOTONIC=1 ASAN_OPTIONS=" +
                                       std::string(asan != nullptr ? asan : "") +
                                       ":verify_asan_link_order=0:detect_leaks=0 faketime -f '@2014-03-20 02:01:00'");
  const bool computed = WaitFor(
      [&] {
        const auto requests = ledger.RecentRequests(10);
        return !requests.empty() && requests.front().label == "定时计算 20140319";
      },
      120s);
  ASSERT_TRUE(computed) << ServeLog(start);
  EXPECT_EQ(ledger.RecentRequests(10).front().outcome, "succeeded") << ServeLog(start);
  const auto days = ledger.Days(kDayRunCommand, "20140301", "20140331");
  ASSERT_EQ(days.size(), 1u);
  EXPECT_EQ(days[0].day, "20140319");
  EXPECT_EQ(days[0].outcome, DayOutcome::Complete);
  EXPECT_EQ(days[0].started.substr(0, 13), "2014-03-20 02") << "the day run saw the shifted clock";
  EXPECT_EQ(start.Count("vehicledistance201403"), 1);
  EXPECT_TRUE(serve.Terminate(30s));
}

// SIGTERM while 20 runs are queued: the service exits within 30 s, the
// runs not ended stay asked for, and the next start runs them in order,
// each ended once.
TEST(ServeBinary, SigtermWithTwentyRunsQueuedExitsInTimeAndTheNextStartRunsTheRest) {
  StartDirectory start;
  const std::string simulate = "cd '" + start.Path().string() + "' && env -u CUSERVER_CONFIG '" CUSERVER_BINARY
                               "' simulate --vehicles 40 --day 20140319 --force >/dev/null 2>&1";
  ASSERT_EQ(std::system(simulate.c_str()), 0);
  Ledger ledger(start.Db());
  ledger.EnsureTables();
  constexpr int kRuns = 20;
  for (int i = 0; i < kRuns; ++i) {
    ledger.AddRequest("run-day", R"({"day":"20140319"})", "计算一天 20140319", "2014-03-20 08:00:00");
  }

  std::optional<double> seconds;
  {
    ServeProcess serve(start.Path());
    // Stopped as soon as the first run has started.
    ASSERT_TRUE(WaitFor(
        [&] {
          const auto waiting = ledger.OpenRequests();
          return static_cast<int>(waiting.size()) < kRuns || !waiting.front().started.empty();
        },
        120s))
        << ServeLog(start);
    seconds = serve.Terminate(30s);
    ASSERT_TRUE(seconds) << "still running 30 s after SIGTERM\n" << ServeLog(start);
    EXPECT_EQ(serve.ExitStatus(), 0);
  }
  const auto endedBefore = ledger.RecentRequests(kRuns);
  const auto open = ledger.OpenRequests();
  EXPECT_EQ(static_cast<int>(endedBefore.size() + open.size()), kRuns);
  ASSERT_FALSE(open.empty()) << "all runs ended before the stop; the test needs longer runs";

  {
    ServeProcess serve(start.Path());
    ASSERT_TRUE(WaitFor([&] { return ledger.OpenRequests().empty(); }, 600s)) << ServeLog(start);
    EXPECT_TRUE(serve.Terminate(30s));
  }
  const auto ended = ledger.RecentRequests(kRuns);  // newest first
  ASSERT_EQ(static_cast<int>(ended.size()), kRuns);
  for (int i = 0; i < kRuns; ++i) {
    EXPECT_EQ(ended[i].id, kRuns - i);
    EXPECT_EQ(ended[i].outcome, "succeeded") << ended[i].id << ": " << ended[i].detail;
    if (i > 0) {
      EXPECT_LE(ended[i].started, ended[i - 1].started) << "run in the order asked for";
    }
  }
  for (const RequestRecord& before : endedBefore) {
    EXPECT_EQ(ended[kRuns - before.id].ended, before.ended) << "request " << before.id << " ran again";
  }
  RecordProperty("secondsToExit", std::to_string(*seconds));
}

}  // namespace
}  // namespace cuserver
