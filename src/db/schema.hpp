#pragma once

#include <string>

#include "db/session.hpp"

namespace cuserver {

// Creates, when missing, the tables that the tracking service owns and this
// system reads or writes: vehicleinfo, motorcade, roadlightmapinfo,
// roadlightmapinfomain, roadlightmapinfose, tireddriver, CONTACTALARM,
// LINEALARMREPROT and areaspeed. Safe to run again.
void InitDatabase(ReportDatabase& db);

// Creates the GPS day table "GPSDATA" + dayKey with its six columns and an
// index on (SIMID, time), when missing.
void CreateGpsDayTable(ReportDatabase& db, const std::string& dayKey);

}  // namespace cuserver
