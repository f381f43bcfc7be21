#pragma once

#include <string>
#include <utility>
#include <vector>

#include "db/session.hpp"

namespace cuserver {

// Creates, when missing, the tables that the tracking service owns and this
// system reads or writes: vehicleinfo, motorcade, roadlightmapinfo,
// roadlightmapinfomain, roadlightmapinfose, tireddriver, CONTACTALARM,
// LINEALARMREPROT and areaspeed. Safe to run again.
void InitDatabase(ReportDatabase& db);

// The CREATE TABLE statements of those tables on a database of the dialect,
// each with its table.
std::vector<std::pair<std::string, std::string>> ServiceTableStatements(SqlDialect dialect);

// Creates the GPS day table "GPSDATA" + dayKey with its six columns and an
// index on (SIMID, time), when missing.
void CreateGpsDayTable(ReportDatabase& db, const std::string& dayKey);

}  // namespace cuserver
