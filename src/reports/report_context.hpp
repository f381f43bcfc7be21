#pragma once

#include <filesystem>

#include "reports/catalog.hpp"
#include "reports/diagnostics.hpp"
#include "reports/ports.hpp"
#include "reports/report_row.hpp"
#include "reports/track.hpp"

namespace cuserver {

// Everything a report computation of one vehicle may use. The track is the
// vehicle's loaded day; the other members are shared by the whole run.
struct ReportContext {
  const TrackBuffer& track;
  RowSink& rows;
  FixReader& fixes;
  GeoServices& geo;
  const SpeedLimitTable& speedLimits;
  std::filesystem::path settingsFile;  // report.ini, read anew for every vehicle
  Diagnostics& diagnostics;
};

}  // namespace cuserver
