#pragma once

#include <stdexcept>
#include <string_view>

#include <nlohmann/json.hpp>

#include "app/errors.hpp"
#include "db/session.hpp"

namespace cuserver {

// The day has nothing to show of the vehicle: no GPS table of that day, or
// no fix of the vehicle in it (HTTP 404).
class TrackNotFoundError : public NotFoundError {
 public:
  using NotFoundError::NotFoundError;
};

// One vehicle's day as a GeoJSON FeatureCollection. The first feature is the
// track: a LineString of the fixes that have a position (longitude and
// latitude both numbers in range, not 0,0), in time order, with properties
// event "track", simid, day (DayKey), fixes (all fixes of the day),
// positioned (those in the line), times (the fix time of each coordinate of
// the line, "yyyy-mm-dd hh:mm:ss"), first and last (fix times). A day with one
// positioned fix gives a Point, with none a null geometry.
// Then one Point feature per report row of the vehicle whose begin time falls
// on the day:
//   event "speeding" (speedalarm<yyyymm>): at the fix where the episode began
//     (where the track has no such fix, at the row's position of the top
//     speed); begin, end, seconds, speed (km/h), remark (road kind or area
//     name), distance (km)
//   event "stop" (parkinglog<yyyymm>): where the vehicle moved again; begin,
//     end, seconds, duration (the row's text, such as 00天01小时25分)
//   event "lost" (CONTACTALARM): at the last positioned fix at or before the
//     begin time (the first one when the day began in silence); begin, end,
//     seconds
// A row without a usable position has a null geometry. A report table that
// cannot be read leaves its events out and is named, with
// the reason, in the collection's "notes" (an array of texts).
// Throws ArgumentError for a day that is not a real date (yyyy-mm-dd or yyyymmdd) or an empty
// SIMID, TrackNotFoundError, and DatabaseError when the track cannot be read.
nlohmann::json DayTrackGeoJson(ReportDatabase& db, std::string_view dayKey, std::string_view simId);

}  // namespace cuserver
