#include "db/wait_clock.hpp"

#include <thread>

namespace cuserver {
namespace {

class SteadyWaitClock final : public WaitClock {
 public:
  TimePoint Now() const override { return std::chrono::steady_clock::now(); }
  void SleepFor(Duration duration) override { std::this_thread::sleep_for(duration); }
};

}  // namespace

WaitClock& SystemWaitClock() {
  static SteadyWaitClock clock;
  return clock;
}

}  // namespace cuserver
