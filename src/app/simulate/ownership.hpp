#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "db/session.hpp"

namespace cuserver::sim {

// simulate rewrites the fleet catalogue, a GPS day table and the map folder.
// It leaves a mark of its own in what it wrote, so that it can tell its own
// data from the tracking service's: this table in the database and this file
// in the map folder.
inline constexpr std::string_view kDatabaseMarkTable = "cuserver_simulation";
inline constexpr std::string_view kMapFolderMarkFile = "cuserver-simulated.txt";

// What the database holds that simulate would change and did not write, as
// "600 vehicles (vehicleinfo), 3 fleets (motorcade)"; empty when that is
// nothing or the database bears simulate's mark.
std::string ForeignDatabaseContents(ReportDatabase& db, const std::string& dayKey);
// The same for the map folder: "4 files (HIGHWAY.TAB, HIGHWAY.gst, ...)";
// empty when the folder is missing, empty or bears simulate's mark.
std::string ForeignMapFolderContents(const std::filesystem::path& folder);

// Leaves the marks. The database's gets one row per simulation.
void MarkDatabase(ReportDatabase& db, const std::string& dayKey, int vehicles);
void MarkMapFolder(const std::filesystem::path& folder);

}  // namespace cuserver::sim
