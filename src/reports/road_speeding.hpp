#pragma once

#include <string>

#include "reports/report_context.hpp"

namespace cuserver {

// Writes one speedalarm<yyyymm> row for every episode of driving above the
// limit of the road (ordinary or highway, by the map's highway test), with the
// limits of LoadReportSettings for the vehicle of slot 0. Fixes below 5 km/h
// take no part. An episode runs from its opening fix to its last continuing
// fix; its SPEED and position are those of its fastest fix in that range, and
// it is written only when that speed is below highSpeedCap and it lasts longer
// than minEpisodeSeconds and 30 seconds. An episode open at the end of the
// track is not written. Errors of the highway test and of TrackDistance
// propagate. Throws ReportSettingsError, writing nothing, when a limit in
// force comes from a faulty report.ini value. Returns 0.
int ComputeRoadSpeeding(const ReportContext& ctx, int n);

// Inserts one road-speeding row unless end is empty or the episode lasts 30
// seconds or less; DISTANCE is TrackDistance in kilometres. Returns 0.
int WriteSpeedingRow(const ReportContext& ctx, const std::string& simId, const std::string& begin,
                     const std::string& end, bool onHighway, double maxSpeed, const std::string& longitude,
                     const std::string& latitude);

}  // namespace cuserver
