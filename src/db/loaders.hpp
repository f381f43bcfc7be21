#pragma once

#include <string>
#include <vector>

#include "db/session.hpp"
#include "reports/catalog.hpp"
#include "reports/diagnostics.hpp"
#include "reports/track.hpp"

namespace cuserver {

// "select * from vehicleinfo". Throws DatabaseError when the query fails.
SpeedLimitTable LoadSpeedLimits(ReportDatabase& db);

// The joined vehicleinfo/motorcade query, in the order the database returns
// the rows. Throws DatabaseError (the caller ends its run).
VehicleList LoadVehicleList(ReportDatabase& db);

// The area-speed entries of table areaspeed (simid, areakey, areaname,
// speedlimit). A database without that table gives an empty list and one
// informational line on the diagnostics.
AreaSpeedList LoadAreaSpeedList(ReportDatabase& db, Diagnostics& diagnostics);

// Loads one vehicle's fixes of one day ("GPSDATA" + dayKey) into the track,
// oldest first, and returns their number. A NULL field reads as empty text.
// Throws DatabaseError when the query fails (for example a missing day table).
int LoadDayTrack(ReportDatabase& db, const std::string& simId, const std::string& dayKey,
                 TrackBuffer& track);

// "select roadname from roadlightmapinfo". Throws DatabaseError.
std::vector<std::string> LoadRoadNames(ReportDatabase& db);

}  // namespace cuserver
