#include "run/speed_limits.hpp"

#include <exception>
#include <string>

#include "db/loaders.hpp"
#include "run/run_session.hpp"

namespace cuserver {

std::optional<SpeedLimitTable> LoadSpeedLimitsOnce(const ConnectionSettings& connection, Caption& caption,
                                                   Diagnostics& diagnostics) {
  ReportDatabase db;
  OpenRunSession(db, connection, caption);
  try {
    return LoadSpeedLimits(db);
  } catch (const DatabaseError& error) {
    diagnostics.Info("speed limits not loaded before the run, each day loads them: " + DatabaseErrorText(error));
  } catch (const std::exception& error) {
    diagnostics.Info(std::string("speed limits not loaded before the run, each day loads them: ") + error.what());
  }
  return std::nullopt;
}

}  // namespace cuserver
