#pragma once

#include <string>

#include "reports/ports.hpp"
#include "reports/report_context.hpp"

namespace cuserver {

// Writes one tireddriver row for every stretch of driving (speed above 5 km/h)
// longer than four hours without a rest of more than 300 seconds. A stretch
// runs from its first to its last moving fix before the ending rest; one still
// open at the end of the track is not written. Returns 0.
int ComputeFatigue(const ReportContext& ctx, int n);

// Inserts one tireddriver row with addtime = SecondsBetween(begin, end).
// 0 when written, -1 for an empty time or a refused row.
int WriteFatigueRow(RowSink& sink, const std::string& simId, const std::string& begin,
                    const std::string& end);

}  // namespace cuserver
