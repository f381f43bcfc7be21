// The catch-up and the persisted queue across restarts of the service, on a
// real SQLite file.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include "db/ledger.hpp"
#include "service_fixture.hpp"

namespace cuserver {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// id, label, outcome of every request, in the order they were asked for.
Rows Requests(StartDirectory& start) {
  return start.Rows("select id, label, outcome from cuserver_requests order by id", {"id", "label", "outcome"});
}

std::vector<std::string> FinishedLabelsOldestFirst(Service& service) {
  std::vector<std::string> labels;
  for (const auto& record : service.Queue().Finished()) labels.insert(labels.begin(), record.label);
  return labels;
}

int MessagesWith(const ServiceLog& log, const std::string& text) {
  const auto messages = log.Recent();
  return static_cast<int>(std::count_if(messages.begin(), messages.end(), [&](const ServiceMessage& m) {
    return m.text.find(text) != std::string::npos;
  }));
}

TEST(CatchUp, StartQueuesEveryDayNotComputedSinceTheFirstStartOldestFirstOnce) {
  ServiceFixture fixture;
  fixture.start.AddVehicle("13900000001");
  for (const char* day : {"20140316", "20140317", "20140318", "20140319", "20140320"}) {
    fixture.start.AddDrive(day, "13900000001", 30, 60);
  }
  Ledger ledger(fixture.start.Db());
  ledger.EnsureTables();
  ledger.RecordFirstServiceDay("20140317");
  // 20140318 gave up after six incomplete attempts.
  for (int attempt = 0; attempt < 6; ++attempt) {
    ledger.BeginDay(kDayRunCommand, "20140318", "1/1", HostName(), 1, "2014-03-19 02:00:00");
    ledger.EndDay(kDayRunCommand, "20140318", "1/1", DayOutcome::Incomplete, DayCounts{}, "2014-03-19 02:01:00",
                  "1 vehicles skipped");
  }
  fixture.clock.Set(2014, 3, 20, 10, 0);
  Service& service = fixture.Started();
  service.Queue().WaitIdle();
  service.Tick();
  service.Queue().WaitIdle();
  EXPECT_EQ(Requests(fixture.start), (Rows{{"1", "定时计算 20140317", "succeeded"},
                                           {"2", "定时计算 20140319", "succeeded"}}));
  EXPECT_EQ(MessagesWith(fixture.log, "cuserver run-day 20140318"), 1);

  // Yesterday from two o'clock on; an operator's run of the waiting day.
  fixture.clock.Set(2014, 3, 21, 2, 0);
  service.Submit("run-day", nlohmann::json{{"day", "20140318"}});
  service.Tick();
  service.Queue().WaitIdle();
  service.Tick();
  service.Queue().WaitIdle();
  const Rows requests = Requests(fixture.start);
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[2], (std::vector<std::string>{"3", "计算一天 20140318", "succeeded"}));
  EXPECT_EQ(requests[3], (std::vector<std::string>{"4", "定时计算 20140320", "succeeded"}));
  const auto lastRuns = service.Status()["lastRuns"];
  ASSERT_EQ(lastRuns.size(), 4u);
  EXPECT_EQ(lastRuns[0]["id"], 4);
  EXPECT_EQ(lastRuns[0]["outcome"], "succeeded");
}

TEST(CatchUp, AFreshDatabaseIsComputedOnlyFromTheFirstStartOn) {
  ServiceFixture fixture;
  fixture.start.AddVehicle("13900000001");
  fixture.start.AddDrive("20140319", "13900000001", 30, 60);
  fixture.clock.Set(2014, 3, 20, 10, 0);
  Service& service = fixture.Started();
  service.Queue().WaitIdle();
  EXPECT_TRUE(Requests(fixture.start).empty()) << "the old program computed 20140319 at two o'clock";
  EXPECT_EQ(Ledger(fixture.start.Db()).FirstServiceDay(), "20140320");
}

TEST(PersistedQueue, RequestsLeftOpenByAStopOrACrashRunAgainInOrderAfterTheRestart) {
  ServiceFixture fixture;
  fixture.start.AddVehicle("13900000001");
  fixture.start.AddDrive("20140318", "13900000001", 30, 60);
  fixture.start.AddDrive("20140319", "13900000001", 30, 60);
  fixture.clock.Set(2014, 3, 19, 10, 0);  // the catch-up has nothing to do yet
  Ledger ledger(fixture.start.Db());
  ledger.EnsureTables();
  // Started by a service that crashed before it ended.
  const long long crashed = ledger.AddRequest("run-day", R"({"day":"20140318"})", "计算一天 20140318",
                                              "2014-03-19 09:00:00");
  ledger.RequestStarted(crashed, "2014-03-19 09:00:01");

  // The first start-up is held once connected until the stop has dropped the
  // waiting runs, so none of them runs before the stop.
  std::promise<void> held;
  std::shared_future<void> release = held.get_future().share();
  fixture.options.databaseAttempt = [release](bool connected, const std::string&) {
    if (connected) release.wait();
  };
  Service& first = fixture.Started();
  // Asked for while the start-up still waits, then the service stops.
  first.Submit("run-day", nlohmann::json{{"day", "20140319"}});
  first.Submit("run-days", nlohmann::json{{"from", "20140318"}, {"to", "20140319"}});
  first.Submit("run-day", nlohmann::json{{"day", "20140318"}});
  std::thread stopping([&first] { first.Stop(); });
  while (!first.Queue().Waiting().empty()) std::this_thread::yield();
  held.set_value();
  stopping.join();
  EXPECT_EQ(ledger.OpenRequests().size(), 4u);

  fixture.service.reset();
  fixture.options.databaseAttempt = nullptr;
  Service& second = fixture.Started();
  second.Queue().WaitIdle();
  EXPECT_EQ(FinishedLabelsOldestFirst(second),
            (std::vector<std::string>{"启动：连接数据库", "计算一天 20140318", "计算一天 20140319",
                                      "计算连续几天 20140318 到 20140319", "计算一天 20140318"}));
  EXPECT_TRUE(ledger.OpenRequests().empty());
  const auto lastRuns = second.Status()["lastRuns"];
  ASSERT_EQ(lastRuns.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(lastRuns[i]["id"], 4 - i);
    EXPECT_EQ(lastRuns[i]["outcome"], "succeeded") << lastRuns[i]["detail"];
  }

  // The list of last runs is read from the ledger after a restart.
  fixture.service.reset();
  Service& third = fixture.Started();
  third.Queue().WaitIdle();
  EXPECT_EQ(third.Status()["lastRuns"], lastRuns);
}

}  // namespace
}  // namespace cuserver
