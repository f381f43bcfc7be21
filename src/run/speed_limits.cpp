#include "run/speed_limits.hpp"

#include <exception>
#include <string>

#include "db/loaders.hpp"
#include "run/run_session.hpp"

namespace cuserver {

SpeedLimitTable LoadSpeedLimitsOnce(const ConnectionSettings& connection, Caption& caption,
                                    Diagnostics& diagnostics) {
  ReportDatabase db;
  OpenRunSession(db, connection, caption);
  try {
    return LoadSpeedLimits(db);
  } catch (const DatabaseError& error) {
    diagnostics.Failure("speed limits not loaded: " + DatabaseErrorText(error));
  } catch (const std::exception& error) {
    diagnostics.Failure(std::string("speed limits not loaded: ") + error.what());
  }
  return {};
}

}  // namespace cuserver
