#include "db/reconnect.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <exception>

namespace cuserver {
namespace {

constexpr std::chrono::seconds kLongestPause{60};
constexpr std::chrono::milliseconds kLookAtStopEvery{200};

bool Stopped(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

}  // namespace

std::chrono::seconds ReopenPause(int attempt) {
  if (attempt < 1) attempt = 1;
  if (attempt > 6) return kLongestPause;
  return std::min(std::chrono::seconds(1 << (attempt - 1)), kLongestPause);
}

bool ReopenWithPauses(ReportDatabase& db, const ConnectionSettings& settings, const std::atomic<bool>* stop,
                      const std::function<void(const std::string&)>& tell, WaitClock& clock) {
  const auto start = clock.Now();
  const auto end = start + std::chrono::seconds(std::max(settings.reconnectSeconds, 0));
  for (int attempt = 1;; ++attempt) {
    if (Stopped(stop)) return false;
    std::string reason;
    try {
      db.OpenReportSession(settings);
      return true;
    } catch (const DatabaseError& error) {
      reason = DatabaseErrorText(error);
    } catch (const std::exception& error) {
      reason = error.what();
    } catch (...) {
      reason = "unknown failure";
    }
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(clock.Now() - start);
    try {
      if (tell) {
        tell(fmt::format("opening the database again: attempt {} failed after {} s: {}", attempt, waited.count(),
                         reason));
      }
    } catch (...) {
      // Telling is not worth giving up the reopening for.
    }
    if (clock.Now() >= end) return false;
    const auto pauseEnd = std::min(clock.Now() + ReopenPause(attempt), end);
    while (clock.Now() < pauseEnd) {
      if (Stopped(stop)) return false;
      clock.SleepFor(std::min<WaitClock::Duration>(kLookAtStopEvery, pauseEnd - clock.Now()));
    }
  }
}

}  // namespace cuserver
