#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "db/session.hpp"
#include "db/wait_clock.hpp"

namespace cuserver {

// The pause after the attempt-th failed opening (attempt from 1): 1 s, 2 s,
// 4 s ... doubling up to 60 s.
std::chrono::seconds ReopenPause(int attempt);

// Opens the session again until it opens, pausing between attempts as
// ReopenPause says, for up to settings.reconnectSeconds in all (the last
// pause is cut short so that a last attempt falls at that time; 0 makes one
// attempt). Each failed attempt is told in one line: its number, the seconds
// since the first attempt, the driver's reason. True once the session is
// open; false when the time is used up or *stop (may be null) became true,
// which is looked at every 200 ms while pausing. Times and pauses are the
// clock's. Never throws.
bool ReopenWithPauses(ReportDatabase& db, const ConnectionSettings& settings, const std::atomic<bool>* stop,
                      const std::function<void(const std::string&)>& tell, WaitClock& clock = SystemWaitClock());

}  // namespace cuserver
