// The built binary's `serve` as it runs unattended: under a shifted clock,
// and stopped by SIGTERM with runs queued.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "db/ledger.hpp"
#include "start_directory.hpp"
#include "support/wait_until.hpp"

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

  // SIGTERM, then waits for the exit; false when it had not exited after
  // `limit` (systemd's stop timeout: beyond it a service is killed).
  bool Terminate(std::chrono::seconds limit) {
    kill(-pid_, SIGTERM);
    return test::WaitUntil(
        [&] {
          int status = 0;
          if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
          pid_ = -1;
          exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
          return true;
        },
        limit);
  }
  int ExitStatus() const { return exitStatus_; }

 private:
  pid_t pid_ = -1;
  int exitStatus_ = -1;
};

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
  const bool computed = test::WaitUntil(
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

  {
    ServeProcess serve(start.Path());
    // Stopped as soon as the first run has started.
    ASSERT_TRUE(test::WaitUntil(
        [&] {
          const auto waiting = ledger.OpenRequests();
          return static_cast<int>(waiting.size()) < kRuns || !waiting.front().started.empty();
        },
        120s))
        << ServeLog(start);
    ASSERT_TRUE(serve.Terminate(30s)) << "still running 30 s after SIGTERM\n" << ServeLog(start);
    EXPECT_EQ(serve.ExitStatus(), 0);
  }
  const auto endedBefore = ledger.RecentRequests(kRuns);
  const auto open = ledger.OpenRequests();
  EXPECT_EQ(static_cast<int>(endedBefore.size() + open.size()), kRuns);
  ASSERT_FALSE(open.empty()) << "all runs ended before the stop; the test needs longer runs";

  {
    ServeProcess serve(start.Path());
    ASSERT_TRUE(test::WaitUntil([&] { return ledger.OpenRequests().empty(); }, 600s)) << ServeLog(start);
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
}

// The datagram socket a service manager gives as $NOTIFY_SOCKET, and the
// assignments (READY=1, STATUS=...) received on it.
class NotifySocket {
 public:
  explicit NotifySocket(const std::filesystem::path& path) : path_(path.string()) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path_.copy(address.sun_path, sizeof(address.sun_path) - 1);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) ADD_FAILURE() << "bind " << path_;
  }
  ~NotifySocket() { close(fd_); }
  const std::string& Path() const { return path_; }

  // Receives until an assignment equal to `wanted` (or, ending in "=", one
  // starting with it) has come; false after `limit`, which only bounds a hang.
  bool ReceiveUntil(std::string_view wanted, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
      for (; seen_ < received_.size(); ++seen_) {
        const std::string& line = received_[seen_];
        if (line == wanted || (wanted.back() == '=' && line.rfind(wanted, 0) == 0)) {
          ++seen_;
          return true;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      pollfd ready{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
      char buffer[4096];
      const ssize_t size = recv(fd_, buffer, sizeof(buffer), 0);
      std::string_view message(buffer, size > 0 ? static_cast<size_t>(size) : 0);
      while (!message.empty()) {
        const size_t end = std::min(message.find('\n'), message.size());
        received_.emplace_back(message.substr(0, end));
        message.remove_prefix(std::min(end + 1, message.size()));
      }
    }
  }
  bool Received(std::string_view line) const {
    return std::find(received_.begin(), received_.end(), line) != received_.end();
  }
  std::string All() const {
    std::string all;
    for (const std::string& line : received_) all += line + "\n";
    return all;
  }

 private:
  std::string path_;
  int fd_ = -1;
  std::vector<std::string> received_;
  size_t seen_ = 0;
};

// Under systemd (Type=notify, WatchdogSec): READY=1 only once the database
// is connected, watchdog pings at half the interval, STOPPING=1 on SIGTERM.
// A database that refuses keeps the start extended instead of ready.
TEST(ServeBinary, TellsTheServiceManagerWhenReadyAliveAndStopping) {
  StartDirectory start;
  NotifySocket manager(start.Path() / "notify");
  const std::string environment = "NOTIFY_SOCKET='" + manager.Path() + "' WATCHDOG_USEC=400000";
  {
    ServeProcess serve(start.Path(), environment);
    ASSERT_TRUE(manager.ReceiveUntil("READY=1", 60s)) << manager.All() << ServeLog(start);
    EXPECT_TRUE(manager.ReceiveUntil("WATCHDOG=1", 30s)) << manager.All();
    EXPECT_TRUE(manager.ReceiveUntil("WATCHDOG=1", 30s)) << "pinged again\n" << manager.All();
    ASSERT_TRUE(serve.Terminate(30s));
    EXPECT_TRUE(manager.ReceiveUntil("STOPPING=1", 30s)) << manager.All();
  }

  // A server that refuses (a missing SQLite file ends the start at once instead).
  start.WriteSettings(
      "[General]\nBackend=postgresql\nDataSource=host=127.0.0.1 port=1 connect_timeout=1\nUSERID=u\nPassword=p\n");
  NotifySocket refused(start.Path() / "notify2");
  ServeProcess serve(start.Path(), "NOTIFY_SOCKET='" + refused.Path() + "'");
  ASSERT_TRUE(refused.ReceiveUntil("EXTEND_TIMEOUT_USEC=", 60s)) << refused.All() << ServeLog(start);
  EXPECT_TRUE(refused.ReceiveUntil("EXTEND_TIMEOUT_USEC=", 30s)) << "extended at each attempt\n" << refused.All();
  EXPECT_FALSE(refused.Received("READY=1")) << refused.All();
  EXPECT_TRUE(serve.Terminate(30s));
}

}  // namespace
}  // namespace cuserver
