#pragma once

// The small interfaces through which the report computations reach the world:
// the database (statements and fix reads) and the map. The computations see
// nothing else, so every report runs on a handmade track in the tests.

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "reports/report_row.hpp"

namespace cuserver {

// The query could not be opened (missing day table, no connection, rejected
// statement). Raised before any row has been delivered.
class QueryOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads fixes back from a GPS day table.
class FixReader {
 public:
  virtual ~FixReader() = default;

  // Runs a SELECT over a GPS day table and calls onRow with the longitude and
  // latitude text of each row, in the query's order (NULL reads as empty text).
  // Throws QueryOpenError when the query cannot be opened; any other exception
  // is a failure while reading rows.
  using RowFunction = std::function<void(std::string_view longitude, std::string_view latitude)>;
  virtual void ForEachFix(const std::string& query, const RowFunction& onRow) = 0;

  // The rows TrackDistanceQuery(simId, begin, end) would give, when the
  // reader holds them already (the day track it loaded): calls onPosition
  // with the position of each of those rows that has a usable one
  // (IsUsablePosition), in the query's order, and returns true. False, with no call, when the query must be run.
  using PositionFunction = std::function<void(double longitude, double latitude)>;
  virtual bool ForEachKnownFix(const std::string& simId, const std::string& begin, const std::string& end,
                               const PositionFunction& onPosition) {
    (void)simId;
    (void)begin;
    (void)end;
    (void)onPosition;
    return false;
  }
};

// The map questions the reports ask. Positions are decimal degrees.
class GeoServices {
 public:
  virtual ~GeoServices() = default;

  // 1 when the position lies on a named highway, else 0. Latitude first.
  virtual int IsOnHighway(double latitude, double longitude) = 0;

  // The joined names of the speed areas at the position, or "区域外面".
  // Latitude first.
  virtual std::string AreaNameAt(double latitude, double longitude) = 0;

  // Distance between two positions on the WGS84 ellipsoid, in metres.
  // Longitude first, as the map takes x before y.
  virtual double DistanceMetres(double longitude1, double latitude1, double longitude2,
                                double latitude2) = 0;
};

}  // namespace cuserver
