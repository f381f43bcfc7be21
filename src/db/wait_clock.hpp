#pragma once

#include <chrono>

namespace cuserver {

// Where the database layer reads elapsed time and waits: the pauses between
// attempts to open a lost session again, SQLite's waits for another
// connection's lock. Tests supply a clock whose waits end at once. The
// service's schedule reads the local date and time elsewhere (app/service).
class WaitClock {
 public:
  using Duration = std::chrono::steady_clock::duration;
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~WaitClock() = default;
  virtual TimePoint Now() const = 0;
  // Blocks the calling thread for `duration` (nothing when it is not
  // positive). Safe to call from several threads at once.
  virtual void SleepFor(Duration duration) = 0;
};

// The machine's steady clock and sleep; one clock for every thread.
WaitClock& SystemWaitClock();

}  // namespace cuserver
