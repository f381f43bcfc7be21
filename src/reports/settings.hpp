#pragma once

#include <filesystem>
#include <stdexcept>
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
  // Empty when both limits in force are sound. Otherwise what the operator
  // must fix: report.ini's path and each key (GENERALWAY, HIGHWAY) whose
  // faulty value (missing file, missing key, wrong length) gave a limit in
  // force, that is one the vehicle's own limit does not replace.
  std::string limitFault;
};

// A limit in force came from a faulty report.ini value; the message is the
// ReportSettings' limitFault.
class ReportSettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads section General of the settings file (report.ini) and resolves the
// limits of the vehicle simId, whose own limits above 10 km/h in the speed
// limit table take precedence. A missing file reads as all keys empty. Each
// distinct message about a faulty value is counted once per call; the values
// the keys give are returned all the same, and limitFault says which of them
// cannot be trusted. Never throws for bad input.
ReportSettings LoadReportSettings(const std::string& simId, const std::filesystem::path& file,
                                  const SpeedLimitTable& speedLimits, Diagnostics& diagnostics);

// The limitFault of a vehicle without limits of its own: empty when the
// file's GENERALWAY and HIGHWAY are sound. Counts no message.
std::string ReportSettingsFault(const std::filesystem::path& file);

}  // namespace cuserver
