#pragma once

#include <string>

#include "reports/ports.hpp"

namespace cuserver {

// The distance in metres a vehicle drove between two track times, read back
// from the GPS day tables: the sum of the distances between consecutive
// moving fixes (IsMovingSpeed: speed neither 0 nor 3.704) stamped strictly after begin and
// strictly before end, from one usable position (IsUsablePosition) to the
// next. An interval crossing a date is measured on the day of
// begin up to 23:59:59 and on the day of end from 00:00:00; days in between are
// not read. A day whose table cannot be queried (QueryOpenError) counts 0, as
// does a time too short to name a day. Other errors of the reader or the
// distance service propagate.
double TrackDistance(FixReader& fixes, GeoServices& geo, const std::string& simId,
                     const std::string& begin, const std::string& end);

// The query for the moving fixes of one day, strictly between begin and end;
// the table is named by the date of begin. Empty when begin names no plain table.
std::string TrackDistanceQuery(const std::string& simId, const std::string& begin,
                               const std::string& end);

}  // namespace cuserver
