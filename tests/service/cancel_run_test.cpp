// DELETE /api/queue/ID through the real control page and service: a waiting
// run is taken out for good, a running one is not.

#include <gtest/gtest.h>

#include <httplib.h>

#include <nlohmann/json.hpp>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "db/ledger.hpp"
#include "service_fixture.hpp"

namespace cuserver {
namespace {

// A started service with its page; the catch-up's first day is 20140318 and
// the clock 2014-03-20 10:00, so 20140318 and 20140319 are due once they have
// GPS tables.
struct CancelFixture : ServiceFixture {
  CancelFixture() {
    clock.Set(2014, 3, 20, 10);
    Ledger ledger(start.Db());
    ledger.EnsureTables();
    ledger.RecordFirstServiceDay("20140318");
    Started();
    server = std::make_unique<ControlServer>(*service, ControlServerOptions{"127.0.0.1", 0, ""});
    port = server->Start();
    service->Queue().WaitIdle();
    start.AddVehicle("13900000001");
  }
  ~CancelFixture() {
    Open();
    service->Stop();  // the gate job ends before the gate goes
  }

  // Holds the queue with a job of the service's own until Open.
  void Close() {
    std::promise<void> entered;
    service->Queue().Add("gate", [this, &entered] {
      entered.set_value();
      gate_.wait();
      return JobResult{};
    });
    entered.get_future().wait();
  }
  void Open() {
    if (gateOpen_) return;
    gateOpen_ = true;
    opened_.set_value();
  }

  httplib::Client Client() const { return httplib::Client("127.0.0.1", port); }
  nlohmann::json Status() const { return nlohmann::json::parse(Client().Get("/api/status")->body); }

  std::unique_ptr<ControlServer> server;
  int port = 0;

 private:
  std::promise<void> opened_;
  std::shared_future<void> gate_ = opened_.get_future().share();
  bool gateOpen_ = false;
};

TEST(CancelRun, AWaitingScheduledDayEndsCancelledAndTheCatchUpLeavesItUntilTheNextNight) {
  CancelFixture page;
  page.start.AddDrive("20140319", "13900000001", 30, 60);
  page.Close();
  page.service->Tick();
  const nlohmann::json waiting = page.Status()["queue"];
  ASSERT_EQ(waiting.size(), 1u);
  ASSERT_EQ(waiting[0]["label"], "定时计算 20140319");
  const long long id = waiting[0]["id"].get<long long>();

  auto cancelled = page.Client().Delete("/api/queue/" + std::to_string(id));
  ASSERT_TRUE(cancelled);
  ASSERT_EQ(cancelled->status, 200) << cancelled->body;
  EXPECT_EQ(nlohmann::json::parse(cancelled->body),
            (nlohmann::json{{"id", id}, {"cancelled", true}, {"message", "计算 " + std::to_string(id) + " 已取消"}}));
  const nlohmann::json status = page.Status();
  EXPECT_TRUE(status["queue"].empty());
  EXPECT_EQ(status["lastRuns"][0]["id"], id);
  EXPECT_EQ(status["lastRuns"][0]["outcome"], "cancelled");
  // Recorded as ended, so a restart does not resume it.
  EXPECT_EQ(page.start.Rows("select started, outcome from cuserver_requests where id=" + std::to_string(id),
                            {"started", "outcome"}),
            (std::vector<std::vector<std::string>>{{"NULL", "cancelled"}}));

  page.service->Tick();
  EXPECT_TRUE(page.Status()["queue"].empty()) << "the next tick's catch-up queued the cancelled day again";
  page.Open();
  page.service->Queue().WaitIdle();
  EXPECT_TRUE(page.start.Rows("select day from cuserver_days where day='20140319'", {"day"}).empty())
      << "the cancelled run ran";

  page.clock.Set(2014, 3, 21, 2, 5);
  page.service->Tick();
  page.service->Queue().WaitIdle();
  EXPECT_EQ(page.Status()["lastRuns"][0]["label"], "定时计算 20140319") << "the next night computes it";
}

TEST(CancelRun, OnlyAWaitingRunOfThisPageIsCancelled) {
  CancelFixture page;
  page.start.AddDrive("20140318", "13900000001", 30, 60);
  page.service->Tick();  // 20140318, scheduled and run
  page.service->Queue().WaitIdle();
  const long long ended = page.Status()["lastRuns"][0]["id"].get<long long>();
  page.Close();
  const long long running = nlohmann::json::parse(
      page.Client().Post("/api/run-day", R"({"day":"20140318"})", "application/json")->body)["id"].get<long long>();
  // The run starts and then waits for the database its test session locks.
  page.start.Db().ExecuteStatement("begin exclusive");
  page.Open();
  for (auto current = page.service->Queue().Current(); !current || current->requestId != running;
       current = page.service->Queue().Current()) {
    std::this_thread::yield();
  }

  const std::string origin = "http://127.0.0.1:" + std::to_string(page.port);
  struct Case {
    std::string path;
    httplib::Headers headers;
    int status;
  };
  for (const Case& c : std::vector<Case>{{"/api/queue/" + std::to_string(running), {}, 409},
                                         {"/api/queue/" + std::to_string(ended), {}, 404},
                                         {"/api/queue/999", {}, 404},
                                         {"/api/queue/x1", {}, 404},
                                         {"/api/queue/", {}, 404},
                                         {"/api/queue/" + std::to_string(running), {{"Origin", origin}}, 409},
                                         {"/api/queue/" + std::to_string(running),
                                          {{"Origin", "http://attacker.example"}},
                                          403}}) {
    auto answer = page.Client().Delete(c.path, c.headers);
    EXPECT_TRUE(answer && answer->status == c.status) << c.path << " " << (answer ? answer->body : "no answer");
  }
  page.start.Db().ExecuteStatement("commit");
  page.service->Queue().WaitIdle();
  const nlohmann::json last = page.Status()["lastRuns"][0];
  EXPECT_EQ(last["id"], running);
  EXPECT_EQ(last["outcome"], "succeeded") << "a running run is not cancelled";
}

}  // namespace
}  // namespace cuserver
