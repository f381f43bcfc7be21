#pragma once

#include <atomic>
#include <functional>

#include "db/wait_clock.hpp"

namespace cuserver::test {

// A clock whose waits end at once and move its time on by the time waited,
// so that a test sees the waits a piece of code makes without making them.
// `afterWait`, when set, runs after each wait with the time since the start:
// a test's way of making something happen at a given time. Set it before the
// clock is used; it runs on the waiting thread.
class InstantWaitClock : public WaitClock {
 public:
  TimePoint Now() const override { return TimePoint(Duration(ticks_.load())); }
  void SleepFor(Duration duration) override {
    waits_++;
    if (duration > Duration::zero()) ticks_ += duration.count();
    if (afterWait) afterWait(Elapsed());
  }

  Duration Elapsed() const { return Duration(ticks_.load()); }
  int Waits() const { return waits_.load(); }

  std::function<void(Duration elapsed)> afterWait;

 private:
  std::atomic<Duration::rep> ticks_{0};
  std::atomic<int> waits_{0};
};

}  // namespace cuserver::test
