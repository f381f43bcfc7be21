#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "db/wait_clock.hpp"

namespace cuserver {

// How wrong tokens from one client address are held off.
struct TokenThrottleRules {
  // Wrong tokens in a row that are answered as wrong (401) before the
  // address is held off.
  int freeFailures = 5;
  // Each further one holds the address off (429) for this long, doubled
  // with every one after it up to longestPause.
  std::chrono::seconds firstPause{1};
  std::chrono::seconds longestPause{std::chrono::minutes{5}};
  // An address without a wrong token for this long starts afresh.
  std::chrono::seconds forgetAfter{std::chrono::minutes{15}};
  // Addresses remembered at most; the longest quiet is forgotten first.
  std::size_t addresses = 4096;
  // The shortest time between two lines in the service log.
  std::chrono::seconds logEvery{std::chrono::minutes{1}};
};

// What became of one wrong token.
struct TokenFailure {
  // Zero: answer that the token is wrong (401). Else the address is held off
  // for this long: answer 429 with it as Retry-After.
  std::chrono::seconds holdOff{0};
  int inARow = 0;  // wrong tokens from the address in a row, this one included
  // When a line in the service log is due: the wrong tokens from any
  // address since the last line, this one included.
  std::optional<long long> logLine;
};

// Counts the wrong tokens of each client address and holds off an address
// that keeps sending them. It is only told of wrong tokens: the right one is
// served whatever its address has sent before. Safe to call from several
// threads at once.
class TokenThrottle {
 public:
  TokenThrottle(TokenThrottleRules rules, const WaitClock& clock) : rules_(rules), clock_(clock) {}

  TokenFailure Failed(const std::string& address);

 private:
  struct Record {
    int inARow = 0;
    WaitClock::TimePoint last;
  };
  // Makes room for one more address; mutex_ held.
  void Forget(WaitClock::TimePoint now);

  const TokenThrottleRules rules_;
  const WaitClock& clock_;
  std::mutex mutex_;
  std::map<std::string, Record> records_;
  long long sinceLine_ = 0;
  std::optional<WaitClock::TimePoint> lastLine_;
};

}  // namespace cuserver
