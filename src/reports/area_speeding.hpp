#pragma once

#include <string>

#include "reports/report_context.hpp"

namespace cuserver {

// Scans fixes 0 to n-1 for stretches inside the named speed area faster than
// speedLimit (km/h, decimal text) and writes one speedalarm<yyyymm> row per
// stretch, REMARK being the area name. A stretch opens at the first fix in the
// area above the limit and closes at the first fix outside the area or below
// the limit (that fix's time is its end); a fix at exactly the limit changes
// nothing. A stretch open at the end is not written. The area key is not used.
// Errors of the area test and of TrackDistance propagate. Returns 0.
int ComputeAreaSpeeding(const ReportContext& ctx, int n, const std::string& simId, const std::string& areaKey,
                        const std::string& areaName, const std::string& speedLimit);

// Inserts one area-speeding row unless end is empty or the stretch lasts less
// than 31 seconds; DISTANCE is TrackDistance in kilometres. 0 when written,
// -1 otherwise.
int WriteAreaSpeedingRow(const ReportContext& ctx, const std::string& simId, const std::string& begin,
                         const std::string& end, const std::string& areaName, double topSpeed,
                         const std::string& topLatitude, const std::string& topLongitude);

}  // namespace cuserver
