#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

namespace cuserver::test {

// Looks at `done` until it holds, a few times a millisecond at first and at
// least every `longestPause` later; false when it still does not hold after
// `limit`, which only bounds a hang: the wait ends as soon as `done` holds.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(30),
                      std::chrono::microseconds longestPause = std::chrono::milliseconds(20)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  for (std::chrono::microseconds pause{100};; pause = std::min(pause * 2, longestPause)) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(pause);
  }
}

}  // namespace cuserver::test
