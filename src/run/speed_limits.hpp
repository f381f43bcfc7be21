#pragma once

#include <optional>

#include "db/session.hpp"
#include "reports/catalog.hpp"
#include "reports/diagnostics.hpp"
#include "run/caption.hpp"

namespace cuserver {

// The per-vehicle speed limits, loaded once before any run (by a service at
// its start, by a one-shot command before its run). Opens a session of its
// own: throws ConnectionRefusedError when the database refuses it. A limit
// table that cannot be read is told on the diagnostics and gives nullopt:
// each day run then loads the limits itself (DayRunSetup::loadSpeedLimits),
// and a day whose limits cannot be read is not computed. Never an empty
// table in their place: every vehicle would be judged by report.ini's limits.
std::optional<SpeedLimitTable> LoadSpeedLimitsOnce(const ConnectionSettings& connection, Caption& caption,
                                    Diagnostics& diagnostics);

}  // namespace cuserver
