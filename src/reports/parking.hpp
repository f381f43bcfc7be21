#pragma once

#include <string>

#include "reports/diagnostics.hpp"
#include "reports/ports.hpp"
#include "reports/report_context.hpp"

namespace cuserver {

// Writes one parkinglog<yyyymm> row for every stop of five minutes or more:
// from the first fix below 5 km/h (integer part of the speed) to the first
// moving fix after it, at the moving fix's position. Visits fixes 0 to n-11:
// the last ten fixes neither open nor end a stop. A stop whose times do not
// parse as date-times is dropped. Returns 0.
int ComputeParking(const ReportContext& ctx, int n);

// Inserts one parking row. 1 when written, 0 when refused (by the database,
// or here for a table name that a malformed begin time would make; recorded
// on `diagnostics` when given).
int WriteParkingRow(RowSink& sink, const std::string& simId, const std::string& begin,
                    const std::string& end, const std::string& longitude, const std::string& latitude,
                    const std::string& durationText, Diagnostics* diagnostics = nullptr);

}  // namespace cuserver
