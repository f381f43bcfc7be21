#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "app/simulate/road_network.hpp"

namespace cuserver::sim {

enum class VehicleKind {
  Normal,     // drives and stops through the day
  Silent,     // sends nothing all day
  WithGap,    // loses contact for more than an hour once
  LongDrive,  // drives more than four hours without a real rest
};

// One simulated fix. Missing values stand for NULL columns.
struct SimFix {
  int secondOfDay;
  double longitude;
  double latitude;
  double speed;  // km/h
  bool speedMissing = false;
  bool longitudeMissing = false;
};

struct VehiclePlan {
  VehicleKind kind = VehicleKind::Normal;
  int homeHighway = 0;
  int intervalSeconds = 30;
  double malformedShare = 0.0;  // share of fixes with a NULL speed or longitude
  bool reportsWhileParked = false;  // standing fixes before the first drive and after the last
};

// Arc-length lookup along one highway.
class HighwayPath {
 public:
  explicit HighwayPath(const NamedLine& line);
  double LengthMetres() const { return cumulative_.back(); }
  // The position at a distance along the line, moved sideways by offsetMetres
  // (positive to the right of the direction of travel along the line).
  GeoPoint At(double metres, double offsetMetres) const;

 private:
  const NamedLine& line_;
  std::vector<double> cumulative_;
};

// The fixes of one vehicle's day, oldest first.
std::vector<SimFix> SimulateVehicleDay(const std::vector<HighwayPath>& highways, const VehiclePlan& plan,
                                       std::mt19937_64& rng);

}  // namespace cuserver::sim
