#pragma once

#include <string>

#include "reports/diagnostics.hpp"
#include "reports/ports.hpp"
#include "reports/report_context.hpp"

namespace cuserver {

// Writes the vehicle's one mileage row of the day: the distance between
// consecutive moving fixes (IsMovingSpeed: speed neither 0 nor 3.704 km/h) of the loaded
// track. With more than ten moving fixes the row runs from the first to the
// last moving fix; with ten or fewer its times come from the unfiltered track,
// slot 0 to slot m-1 (slot 0 when m <= 1). Writes nothing for an empty track.
// An error of the distance service propagates. Returns 0.
int ComputeMileage(const ReportContext& ctx, int n);

// DISTANCE text of a distance in metres: "0.0" below 1000 m, else kilometres "%.2f".
std::string MileageDistanceText(double distanceMetres);

// Inserts one row into vehicledistance<yyyymm> of begin's month. 0 when
// written, -1 when refused (by the database, or here for a table name that a
// malformed begin time would make; that refusal is recorded on `diagnostics`
// when given).
int WriteMileageRow(RowSink& sink, const std::string& simId, const std::string& begin,
                    const std::string& end, double distanceMetres, Diagnostics* diagnostics = nullptr);

}  // namespace cuserver
