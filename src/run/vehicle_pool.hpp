#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "db/session.hpp"
#include "run/caption.hpp"
#include "run/vehicle_work.hpp"

namespace cuserver {

// A vehicle a run computes: its zero-based place in the vehicle list (the
// caption shows it) and its SIMID.
struct PlannedVehicle {
  int index = 0;
  std::string simId;
};

struct VehiclePoolSetup {
  const DayRunShared& shared;
  ReportDatabase& runDatabase;           // the run's session; the first worker uses it
  const ConnectionSettings& connection;  // each further worker opens a session of its own
  int jobs = 1;
  Caption& caption;
  const PreviousRows& previous;            // what the day's earlier computations wrote
  const std::atomic<bool>* stop = nullptr;  // true: start no further vehicle
};

struct VehiclePoolCounts {
  int reported = 0;
  int withoutFixes = 0;
  int skipped = 0;
  int workers = 0;  // workers that ran (fewer than asked when the database refused sessions)
  int rowsWritten = 0;
  int rowsRefused = 0;
  std::map<std::string, int> rowsByTable;  // rows written per table
  std::vector<std::string> lost;  // SIMIDs not computed because the database stayed away, in list order
  int notStarted = 0;             // vehicles left when the stop flag was raised
  TrackQuality quality;           // added up over the vehicles computed
};

// Works the vehicles on up to `jobs` workers, each with its own session and
// track buffer. Vehicles are started in list order: before each, the caption
// shows "%s - %d - %s" (SIMID, list index, DayKey) and Progress(position,
// total). A vehicle's run-log lines are appended together, and the vehicles'
// lines in list order, so the run log reads as with one worker. A worker
// session the database refuses is told on the diagnostics and the run goes
// on with the workers it has. Each vehicle's rows replace the rows recorded
// for it before, with its ledger entry, in one transaction where the backend
// allows. When a vehicle fails because the connection was lost, the worker
// reopens its session with growing pauses (up to the settings'
// reconnectSeconds) and computes the vehicle again; when the database stays
// away, that vehicle and every one not yet started are lost.
VehiclePoolCounts WorkVehicles(const std::vector<PlannedVehicle>& vehicles, const VehiclePoolSetup& setup);

}  // namespace cuserver
