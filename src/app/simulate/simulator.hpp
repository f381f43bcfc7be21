#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "db/session.hpp"

namespace cuserver::sim {

struct SimulationOptions {
  int vehicles = 10;
  int intervalSeconds = 30;
  std::string dayKey;          // yyyymmdd
  std::uint64_t seed = 1;
  int highwaySegments = 2000;
  int areas = 10;
  int areaEntryEvery = 10;     // one vehicle in this many gets an area-speed entry
  bool allDay = false;         // terminals report while parked too, all day long
  // Whether the database and the map folder get simulate's mark (see
  // ownership.hpp): not when they held others' data before.
  bool markDatabase = true;
  bool markMapFolder = true;
};

struct SimulationSummary {
  int vehicles = 0;
  int silentVehicles = 0;
  long long fixes = 0;
  int highwaySegments = 0;
  int areas = 0;
  int areaEntries = 0;
};

// The SIMID of simulated vehicle i (0-based).
std::string SimulatedSimId(int index);

// Writes a deterministic day for a simulated fleet: the map files (geoset,
// highways, speed areas, road table) into highwayFolder, and vehicles, fleets,
// area-speed entries and the GPS day table into the database. Earlier
// simulated vehicles and their fixes of that day are replaced.
SimulationSummary Simulate(ReportDatabase& db, const std::filesystem::path& highwayFolder,
                           const SimulationOptions& options);

}  // namespace cuserver::sim
