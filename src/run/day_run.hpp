#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <string>

#include "db/ledger.hpp"
#include "db/session.hpp"
#include "reports/catalog.hpp"
#include "reports/diagnostics.hpp"
#include "reports/ports.hpp"
#include "run/caption.hpp"
#include "run/run_log.hpp"
#include "run/vehicle_listings.hpp"
#include "run/vehicle_shard.hpp"
#include "reports/track_quality.hpp"

namespace cuserver {

// What a day run works with besides its day. The speed limits are loaded
// once per process (or per command) before any run.
struct DayRunSetup {
  ConnectionSettings connection;
  GeoServices& geo;
  const SpeedLimitTable& speedLimits;
  std::filesystem::path reportSettingsFile;  // report.ini in the start directory
  const RunLog& runLog;
  Caption& caption;
  Diagnostics& diagnostics;
  int jobs = 1;        // workers, each with its own session and track buffer
  VehicleShard shard{};  // the vehicles this run computes; by default all
  // When it becomes true the run starts no further vehicle: the vehicles in
  // progress end, the day is recorded as incomplete and the run returns.
  const std::atomic<bool>* stop = nullptr;
  // The limits could not be loaded before the run (speedLimits is empty):
  // the run loads them on its own session, and a day whose limits cannot be
  // read ends as failed with no vehicle computed.
  bool loadSpeedLimits = false;
  // Each vehicle read by its own query, each distance by its query: slower,
  // and the rows the faster reading must give.
  bool plainReads = false;
};

struct DayRunCounts {
  int vehicles = 0;  // vehicles in the reloaded catalogue, each SIMID once
  int reported = 0;  // vehicles with fixes, reports called
  int withoutFixes = 0;
  int skipped = 0;   // day track not loaded, or the vehicle's work failed
  int outsideShard = 0;  // vehicles of other shards, not computed here
  int workers = 0;
  bool catalogueLoaded = false;
  int lost = 0;          // vehicles not computed because the database went away
  bool stopped = false;  // the stop flag ended the run before every vehicle was started
  DayOutcome outcome = DayOutcome::Running;  // as recorded in the day ledger
  std::string detail;    // one line: what was not written, empty when complete
  DayCounts recorded;    // the figures recorded in the day ledger
  std::map<std::string, int> rowsByTable;  // rows written per report table
  CatalogueNotes catalogue;  // listings left out of the vehicle list
  TrackQuality quality;      // what the computed vehicles' trackers sent, added up
};

// The day run for one DayKey, used unchanged (not checked). Opens its own
// session (throws ConnectionRefusedError before anything is written when the
// database refuses it), makes sure the month's speeding, mileage and parking
// tables exist, reloads the vehicle list and the speed-area entries, and
// works each vehicle of the shard, started in catalogue order on
// setup.jobs workers; ends with the end caption. A vehicle
// list that cannot be loaded ends the run early, recorded as a failure.
DayRunCounts DayRun(const std::string& dayKey, const DayRunSetup& setup);

// "%s数据分析完毕，请查验！"
std::string EndCaption(const std::string& dayKey);

}  // namespace cuserver
