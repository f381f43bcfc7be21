#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/adapters.hpp"
#include "db/loaders.hpp"
#include "db/session.hpp"
#include "reports/catalog.hpp"
#include "reports/diagnostics.hpp"
#include "reports/ports.hpp"
#include "reports/track.hpp"
#include "reports/track_quality.hpp"
#include "run/loaded_track_fixes.hpp"
#include "run/run_log.hpp"
#include "run/vehicle_day_writer.hpp"

namespace cuserver {

// What every vehicle of one day run shares. Read-only while the vehicles are
// worked on, so several workers may use it at once.
struct DayRunShared {
  std::string dayKey;
  const AreaSpeedList& areaSpeeds;
  GeoServices& geo;
  const SpeedLimitTable& speedLimits;
  std::filesystem::path reportSettingsFile;  // report.ini, read anew for every vehicle
  const RunLog& runLog;
  Diagnostics& diagnostics;
  // Each vehicle's track read by its own query and every distance by the
  // track distance's query: the plain reading the faster ones stand for.
  bool plainReads = false;

  // The lists above by SIMID, made once (Index) so that a vehicle finds its
  // own entries without walking the whole list: its speed-area entries in
  // list order, and the first speed-limit entry of its SIMID, the one the
  // reports go by.
  std::unordered_map<std::string_view, std::vector<const AreaSpeedEntry*>> areasBySimId;
  std::unordered_map<std::string_view, const SpeedLimitEntry*> limitBySimId;
  void Index();
};

// The resources of one worker: its session, track buffer and ways to the
// database. A worker handles one vehicle at a time; the rows of its reports
// wait in Rows() until the vehicle is done.
class VehicleWorker {
 public:
  explicit VehicleWorker(ReportDatabase& db) : db_(db), fixes_(db), knownFixes_(fixes_, track_) {}

  VehicleWorker(const VehicleWorker&) = delete;
  VehicleWorker& operator=(const VehicleWorker&) = delete;

  ReportDatabase& Database() { return db_; }
  TrackBuffer& Track() { return track_; }
  RecordingSink& Rows() { return rows_; }
  // The track distance's reads: from the loaded track where it holds them.
  FixReader& Fixes() { return knownFixes_; }
  LoadedTrackFixes& KnownFixes() { return knownFixes_; }
  // The day tracks of the vehicles the worker was dealt, read together; a
  // vehicle whose track it does not hold is loaded by itself.
  DayTrackBatch& Batch() { return batch_; }
  // The run-log lines of the vehicle being worked on, in the order written.
  std::vector<std::string>& LogLines() { return logLines_; }
  // What the tracker of the vehicle being worked on sent that day.
  TrackQuality& Quality() { return quality_; }

 private:
  ReportDatabase& db_;
  TrackBuffer track_;
  DayTrackBatch batch_;
  RecordingSink rows_;
  DbFixReader fixes_;
  LoadedTrackFixes knownFixes_;
  std::vector<std::string> logLines_;
  TrackQuality quality_;
};

enum class VehicleOutcome {
  Reported,  // had fixes; every report was called (some may have failed)
  NoFixes,   // the whole-day lost-contact and mileage rows were written
  Skipped,   // its day track could not be loaded (the reason is in skipReason)
};

// Loads one vehicle's day, counts what its tracker sent (the worker's
// Quality()), leaves out the fixes of other days and writes its report rows:
// the area-speeding
// report for each of its speed-area entries, then parking, lost contact,
// fatigue driving, road speeding and daily mileage, each guarded by itself.
// A failed report costs one run-log line and one diagnostic (on
// `diagnostics`, the attempt's own); the success line follows the reports.
// The run-log lines are left in the worker's LogLines() and the rows in its
// Rows() for the caller to write, so that a vehicle's lines and rows stay
// together. A vehicle without fixes gets one whole-day lost-contact row and
// one mileage row of distance 0 and no run-log line.
VehicleOutcome RunVehicle(const DayRunShared& shared, VehicleWorker& worker, const std::string& simId,
                          Diagnostics& diagnostics, std::string& skipReason);

}  // namespace cuserver
