#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/errors.hpp"
#include "app/service/instance_lock.hpp"
#include "start_directory.hpp"
#include "support/wait_until.hpp"

namespace cuserver {
namespace {

std::string Refusal(const std::function<void()>& take) {
  try {
    take();
  } catch (const CannotRunError& error) {
    return error.what();
  }
  return "taken";
}

TEST(InstanceLock, SecondServiceIsRefusedNamingTheFirst) {
  TempDir dir;
  InstanceLock first = InstanceLock::ForService(dir.Path());
  first.Describe("http://127.0.0.1:8064/");
  const std::string message = Refusal([&] { InstanceLock::ForService(dir.Path()); });
  EXPECT_NE(message.find("process " + std::to_string(getpid())), std::string::npos) << message;
  EXPECT_NE(message.find("http://127.0.0.1:8064/"), std::string::npos) << message;
}

TEST(InstanceLock, OneShotCommandIsRefusedAndPointedToThePage) {
  TempDir dir;
  {
    InstanceLock service = InstanceLock::ForService(dir.Path());
    service.Describe("http://127.0.0.1:8064/");
    const std::string message = Refusal([&] { InstanceLock::ForCommand(dir.Path(), "run-day"); });
    EXPECT_NE(message.find("run-day"), std::string::npos) << message;
    EXPECT_NE(message.find("http://127.0.0.1:8064/"), std::string::npos) << message;
  }
  EXPECT_EQ(Refusal([&] { InstanceLock::ForCommand(dir.Path(), "run-day"); }), "taken")
      << "the lock goes with the service";
}

TEST(InstanceLock, OneCommandAtATimeAndNoServiceBesideIt) {
  TempDir dir;
  InstanceLock one = InstanceLock::ForCommand(dir.Path(), "run-day");
  const std::string pid = "process " + std::to_string(getpid());
  const std::string second = Refusal([&] { InstanceLock::ForCommand(dir.Path(), "import-roads"); });
  EXPECT_NE(second.find("(run-day, " + pid + ")"), std::string::npos) << second;
  const std::string service = Refusal([&] { InstanceLock::ForService(dir.Path()); });
  EXPECT_NE(service.find("command is computing"), std::string::npos) << service;
  EXPECT_NE(service.find(pid), std::string::npos) << service;
}

TEST(InstanceLock, OnlyComputingCommandsAndSimulateAreHeldBack) {
  for (const char* name : {"run-day", "run-days", "line-alarms", "import-roads"}) EXPECT_TRUE(ComputesReports(name));
  for (const char* name : {"serve", "init-db", "simulate", "highway-test"}) EXPECT_FALSE(ComputesReports(name));
  EXPECT_TRUE(LocksStartDirectory("simulate"));
  EXPECT_TRUE(LocksStartDirectory("run-days"));
  EXPECT_FALSE(LocksStartDirectory("days"));
}

// The real program: a second serve and a one-shot run-day beside a running service.
struct Output {
  int status = -1;
  std::string text;
};

Output RunIn(const std::filesystem::path& dir, const std::string& arguments) {
  const std::string command = "cd '" + dir.string() + "' && '" CUSERVER_BINARY "' " + arguments + " 2>&1";
  Output output;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.text.append(buffer, n);
  const int status = pclose(pipe);
  output.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

TEST(ServeProgram, SecondServeAndOneShotRunDayExitAtOnceWithStatusThree) {
  StartDirectory start;
  const pid_t service = fork();
  ASSERT_GE(service, 0);
  if (service == 0) {
    if (chdir(start.Path().c_str()) != 0) _exit(99);
    execl(CUSERVER_BINARY, CUSERVER_BINARY, "serve", "--listen", "127.0.0.1:0", static_cast<char*>(nullptr));
    _exit(98);
  }
  LockOwner owner;
  test::WaitUntil([&] {
    owner = ReadLockOwner(start.Path());
    return !owner.pageUrl.empty();
  });
  ASSERT_FALSE(owner.pageUrl.empty()) << "the service did not start";
  EXPECT_EQ(owner.pid, std::to_string(service));

  const Output second = RunIn(start.Path(), "serve --listen 127.0.0.1:0");
  EXPECT_EQ(second.status, 3) << second.text;
  EXPECT_NE(second.text.find("process " + owner.pid), std::string::npos) << second.text;

  const Output oneShot = RunIn(start.Path(), "run-day 20140319");
  EXPECT_EQ(oneShot.status, 3) << oneShot.text;
  EXPECT_NE(oneShot.text.find(owner.pageUrl), std::string::npos) << oneShot.text;

  kill(service, SIGTERM);
  int status = 0;
  waitpid(service, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  EXPECT_EQ(RunIn(start.Path(), "run-day 20140319").status, 0) << "the stopped service let go of the lock";
}

TEST(ServeProgram, GeosetThatCannotBeLoadedEndsTheServiceWithStatusThreeNamingTheFile) {
  StartDirectory start;
  std::filesystem::remove(start.Path() / "HighWay" / "userspeed.TAB");
  const Output output = RunIn(start.Path(), "serve --listen 127.0.0.1:0");
  EXPECT_EQ(output.status, 3) << output.text;
  EXPECT_NE(output.text.find("userspeed.TAB"), std::string::npos) << output.text;
}

TEST(ServeProgram, ListeningBeyondLoopbackNeedsAToken) {
  StartDirectory start;
  const Output output = RunIn(start.Path(), "serve --listen 0.0.0.0:0");
  EXPECT_EQ(output.status, 3) << output.text;
  EXPECT_NE(output.text.find("Token"), std::string::npos) << output.text;
  EXPECT_EQ(RunIn(start.Path(), "serve --listen nonsense").status, 2);
}

}  // namespace
}  // namespace cuserver
