#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/service/run_queue.hpp"

namespace cuserver {
namespace {

// A job that waits until the test lets it go.
struct Gate {
  std::promise<void> opened;
  std::shared_future<void> open = opened.get_future().share();
  std::promise<void> entered;
};

TEST(RunQueue, JobsAddedWhileOneRunsWaitAndRunInOrderNoneDropped) {
  RunQueue queue;
  Gate gate;
  std::mutex mutex;
  std::vector<std::string> order;
  auto record = [&](std::string name) {
    return [&, name] {
      std::lock_guard lock(mutex);
      order.push_back(name);
      return JobResult{};
    };
  };
  queue.Add("first", [&] {
    gate.entered.set_value();
    gate.open.wait();
    std::lock_guard lock(mutex);
    order.push_back("first");
    return JobResult{};
  });
  gate.entered.get_future().wait();
  for (int i = 0; i < 20; ++i) queue.Add("job " + std::to_string(i), record("job " + std::to_string(i)));

  ASSERT_TRUE(queue.Current().has_value());
  EXPECT_EQ(queue.Current()->label, "first");
  EXPECT_EQ(queue.Waiting().size(), 20u);
  EXPECT_EQ(queue.Waiting().front().label, "job 0");

  gate.opened.set_value();
  queue.WaitIdle();
  ASSERT_EQ(order.size(), 21u);
  EXPECT_EQ(order.front(), "first");
  for (int i = 0; i < 20; ++i) EXPECT_EQ(order[static_cast<size_t>(i + 1)], "job " + std::to_string(i));
}

TEST(RunQueue, FinishedJobsKeepTheirOutcomeNewestFirst) {
  RunQueue queue(3);
  queue.Add("ok", [] { return JobResult{JobOutcome::Succeeded, "fine"}; });
  queue.Add("some failed", [] { return JobResult{JobOutcome::Failed, "2 rows refused"}; });
  queue.Add("throws", []() -> JobResult { throw std::runtime_error("no database"); });
  queue.Add("last", [] { return JobResult{}; });
  queue.WaitIdle();
  const auto finished = queue.Finished();
  ASSERT_EQ(finished.size(), 3u) << "only the most recent are kept";
  EXPECT_EQ(finished[0].label, "last");
  EXPECT_EQ(finished[1].label, "throws");
  EXPECT_EQ(finished[1].result->outcome, JobOutcome::CouldNotRun);
  EXPECT_EQ(finished[1].result->detail, "no database");
  EXPECT_EQ(finished[2].result->outcome, JobOutcome::Failed);
  EXPECT_FALSE(finished[0].started.empty());
  EXPECT_FALSE(finished[0].ended.empty());
}

TEST(RunQueue, UpkeepIsNotQueuedTwiceWhileOneWaitsButAgainOnceItRan) {
  RunQueue queue;
  Gate gate;
  std::atomic<int> ensured{0};
  queue.Add("run", [&] {
    gate.entered.set_value();
    gate.open.wait();
    return JobResult{};
  });
  gate.entered.get_future().wait();
  const long long first = queue.AddUnlessWaiting("tables", [&] { ++ensured; return JobResult{}; });
  EXPECT_EQ(queue.AddUnlessWaiting("tables", [&] { ++ensured; return JobResult{}; }), first);
  gate.opened.set_value();
  queue.WaitIdle();
  EXPECT_EQ(ensured, 1);
  EXPECT_NE(queue.AddUnlessWaiting("tables", [&] { ++ensured; return JobResult{}; }), first);
  queue.WaitIdle();
  EXPECT_EQ(ensured, 2);
}

TEST(RunQueue, StopLetsTheRunningJobEndAndDropsTheWaiting) {
  auto queue = std::make_unique<RunQueue>();
  Gate gate;
  std::atomic<bool> ended{false};
  std::atomic<bool> waitingRan{false};
  queue->Add("run", [&] {
    gate.entered.set_value();
    gate.open.wait();
    ended = true;
    return JobResult{};
  });
  queue->Add("waiting", [&] { waitingRan = true; return JobResult{}; });
  gate.entered.get_future().wait();
  auto stopped = std::async(std::launch::async, [&] { queue->Stop(); });
  while (!queue->Waiting().empty()) std::this_thread::yield();  // Stop has dropped the waiting job
  gate.opened.set_value();
  stopped.wait();
  EXPECT_TRUE(ended);
  EXPECT_FALSE(waitingRan);
}

}  // namespace
}  // namespace cuserver
