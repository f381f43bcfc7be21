#pragma once

#include <string>
#include <vector>

namespace cuserver {

// Per-vehicle speed limits, loaded once when the service starts.
struct SpeedLimitEntry {
  std::string simId;
  std::string alarmSpeed;      // ordinary-road limit, decimal text (empty for NULL)
  std::string highAlarmSpeed;  // highway limit, decimal text (empty for NULL)
};
using SpeedLimitTable = std::vector<SpeedLimitEntry>;

// The vehicles a run walks, in the order the catalogue query returned them.
struct VehicleEntry {
  std::string simId;
  std::string fleetName;     // empty when NULL
  std::string licensePlate;  // empty when NULL
};
using VehicleList = std::vector<VehicleEntry>;

// One speed-area entry of the day run: a vehicle, an area of the "userspeed"
// layer and the vehicle's limit inside it.
struct AreaSpeedEntry {
  std::string simId;
  std::string areaKey;     // passed through, not used by the report
  std::string areaName;
  std::string speedLimit;  // km/h, decimal text
};
using AreaSpeedList = std::vector<AreaSpeedEntry>;

}  // namespace cuserver
