#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/session.hpp"
#include "reports/catalog.hpp"
#include "reports/diagnostics.hpp"
#include "reports/track.hpp"

namespace cuserver {

// "select * from vehicleinfo". Throws DatabaseError when the query fails.
SpeedLimitTable LoadSpeedLimits(ReportDatabase& db);

// The joined vehicleinfo/motorcade query, in the order the database returns
// the rows; a NULL SIMID reads as empty text. Throws DatabaseError (the
// caller ends its run).
VehicleList LoadVehicleList(ReportDatabase& db);

// The area-speed entries of table areaspeed (simid, areakey, areaname,
// speedlimit). A database without that table gives an empty list and one
// informational line on the diagnostics; a table that is there but cannot be
// read throws DatabaseError.
AreaSpeedList LoadAreaSpeedList(ReportDatabase& db, Diagnostics& diagnostics);

// Loads one vehicle's fixes of one day ("GPSDATA" + dayKey) into the track,
// oldest first, and returns their number. A NULL field reads as empty text.
// Throws DatabaseError when the query fails (for example a missing day table).
int LoadDayTrack(ReportDatabase& db, const std::string& simId, const std::string& dayKey,
                 TrackBuffer& track);

// Digits without a leading zero, at most 18: a SIMID that no other text
// equals, whether the database compares SIMIDs as numbers or as texts of any
// collation.
bool IsPlainSimId(std::string_view simId);

// The day tracks of several vehicles, read with one ordered query instead of
// one query a vehicle. The fixes of each vehicle are the rows LoadDayTrack
// would load for it, in the same order (ascending time); each track is held
// until taken, so a worker holds the tracks of one batch, never of the day.
class DayTrackBatch {
 public:
  // Reads the day's fixes of every plain SIMID (IsPlainSimId) of `simIds` (a
  // SIMID listed twice is read once); the others are left to LoadDayTrack. Throws DatabaseError when the query fails. Returns false and
  // holds nothing when a row's SIMID text is not exactly one of the listed
  // SIMIDs (the database stores them otherwise than the list names them, for
  // example as numbers): the caller then loads each vehicle by itself.
  bool Read(ReportDatabase& db, const std::string& dayKey, const std::vector<std::string>& simIds);
  // Moves simId's fixes into `track` as LoadDayTrack would have loaded them
  // and sets n to their number; false when the batch holds no track of that
  // SIMID (not read, or already taken).
  bool Take(const std::string& simId, TrackBuffer& track, int& n);
  void Forget();

 private:
  std::vector<std::string> simIds_;  // sorted, each once
  std::vector<TrackBuffer> tracks_;  // by the place of the SIMID in simIds_; reused from batch to batch
  std::vector<char> held_;
};

// "select roadname from roadlightmapinfo". Throws DatabaseError.
std::vector<std::string> LoadRoadNames(ReportDatabase& db);

}  // namespace cuserver
