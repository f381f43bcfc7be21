#pragma once

#include <string>

#include "db/session.hpp"
#include "reports/diagnostics.hpp"
#include "reports/ports.hpp"
#include "run/caption.hpp"
#include "run/vehicle_listings.hpp"

namespace cuserver {

struct LineAlarmRunSetup {
  ConnectionSettings connection;
  GeoServices& geo;
  Caption& caption;
  Diagnostics& diagnostics;
  int jobs = 1;  // workers scanning vehicles at once, each with a session of its own
};

struct LineAlarmRunCounts {
  int vehicles = 0;  // vehicles in the reloaded catalogue, each SIMID once
  CatalogueNotes catalogue;  // listings left out of the vehicle list
  int scanned = 0;   // vehicles whose track was loaded and scanned
  int fixes = 0;     // fixes scanned, one highway test each
  int opened = 0;    // LINEALARMREPROT rows opened
  int closed = 0;    // rows completed
  int leftOpen = 0;  // rows left open by a track ending on a highway
  int refused = 0;   // statements the database refused
  int lost = 0;      // vehicles not scanned because the database stayed away
  int roadNames = 0;
  bool complete = false;  // every vehicle was scanned and the end caption shown
};

// "当天数据分析完毕！请查验"
inline constexpr std::string_view kLineAlarmEndCaption = "当天数据分析完毕！请查验";

// The road-segment alarm run for one DayKey (used unchanged). Opens its own
// session (throws ConnectionRefusedError before anything is written when the
// database refuses it), reloads the vehicle list and the road names, and
// scans each vehicle's day track in catalogue order, showing the SIMID and
// then "SIMID-fixes". A missing LINEALARMREPROT, or a loader that fails (the
// vehicle list, the road names, a vehicle's day track, for example a missing
// GPS day table), ends the run there: one failure on the diagnostics names
// the table and the driver's reason, and the end caption is not shown.
// With several jobs the vehicles are scanned by that many workers; the rows,
// the counts, the captions and where a failure ends the run are the same as
// with one. A lost session is reopened and the vehicle tried again; when the
// database stays away the vehicles not yet written are counted lost.
LineAlarmRunCounts ComputeLineAlarms(const std::string& dayKey, const LineAlarmRunSetup& setup);

}  // namespace cuserver
