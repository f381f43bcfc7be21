#include "app/service/token_throttle.hpp"

#include <algorithm>

namespace cuserver {

TokenFailure TokenThrottle::Failed(const std::string& address) {
  const WaitClock::TimePoint now = clock_.Now();
  std::lock_guard lock(mutex_);
  auto found = records_.find(address);
  if (found != records_.end() && now - found->second.last >= rules_.forgetAfter) {
    records_.erase(found);
    found = records_.end();
  }
  if (found == records_.end()) {
    if (records_.size() >= rules_.addresses) Forget(now);
    found = records_.emplace(address, Record{}).first;
  }
  Record& record = found->second;
  record.last = now;
  TokenFailure failure;
  failure.inARow = ++record.inARow;
  if (const int beyond = record.inARow - rules_.freeFailures; beyond > 0) {
    // Doubled up to the longest pause, without overflowing on the way.
    std::chrono::seconds pause = rules_.firstPause;
    for (int i = 1; i < beyond && pause < rules_.longestPause; ++i) pause *= 2;
    failure.holdOff = std::min(pause, rules_.longestPause);
  }
  ++sinceLine_;
  if (!lastLine_ || now - *lastLine_ >= rules_.logEvery) {
    failure.logLine = sinceLine_;
    sinceLine_ = 0;
    lastLine_ = now;
  }
  return failure;
}

void TokenThrottle::Forget(WaitClock::TimePoint now) {
  std::erase_if(records_, [&](const auto& entry) { return now - entry.second.last >= rules_.forgetAfter; });
  while (records_.size() >= rules_.addresses && !records_.empty()) {
    records_.erase(std::min_element(records_.begin(), records_.end(), [](const auto& a, const auto& b) {
      return a.second.last < b.second.last;
    }));
  }
}

}  // namespace cuserver
