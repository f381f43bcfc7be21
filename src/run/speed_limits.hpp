#pragma once

#include "db/session.hpp"
#include "reports/catalog.hpp"
#include "reports/diagnostics.hpp"
#include "run/caption.hpp"

namespace cuserver {

// The per-vehicle speed limits, loaded once before any run (by a service at
// its start, by a one-shot command before its run). Opens a session of its
// own: throws ConnectionRefusedError when the database refuses it. A limit
// table that cannot be read is recorded as a failure and gives an empty
// table, so every vehicle is judged by report.ini's limits.
SpeedLimitTable LoadSpeedLimitsOnce(const ConnectionSettings& connection, Caption& caption,
                                    Diagnostics& diagnostics);

}  // namespace cuserver
