#include "db/reconnect.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <thread>

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
                      const std::function<void(const std::string&)>& tell) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
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
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start);
    try {
      if (tell) {
        tell(fmt::format("opening the database again: attempt {} failed after {} s: {}", attempt, waited.count(),
                         reason));
      }
    } catch (...) {
      // Telling is not worth giving up the reopening for.
    }
    if (Clock::now() >= end) return false;
    const auto pauseEnd = std::min(Clock::now() + ReopenPause(attempt), end);
    while (Clock::now() < pauseEnd) {
      if (Stopped(stop)) return false;
      std::this_thread::sleep_for(std::min<Clock::duration>(kLookAtStopEvery, pauseEnd - Clock::now()));
    }
  }
}

}  // namespace cuserver
