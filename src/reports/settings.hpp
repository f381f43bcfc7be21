#pragma once

#include <filesystem>
#include <string>

#include "reports/catalog.hpp"
#include "reports/diagnostics.hpp"

namespace cuserver {

// The speeding thresholds for one vehicle.
struct ReportSettings {
  int generalLimit = 0;       // km/h, ordinary roads
  int highwayLimit = 0;       // km/h, highways
  int highSpeedCap = 1000;    // km/h: an episode this fast or faster is not reported
  int minEpisodeSeconds = 0;  // an episode must last longer than this
};

// Reads section General of the settings file (report.ini) and resolves the
// limits of the vehicle simId, whose own limits above 10 km/h in the speed
// limit table take precedence. A missing file reads as all keys empty. Each
// distinct message about a faulty value is counted once per call; the
// computation goes on with the values the keys give. Never throws for bad input.
ReportSettings LoadReportSettings(const std::string& simId, const std::filesystem::path& file,
                                  const SpeedLimitTable& speedLimits, Diagnostics& diagnostics);

}  // namespace cuserver
