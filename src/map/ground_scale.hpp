#pragma once

#include <cmath>

namespace cuserver {

// Metres per degree of longitude and of latitude on the WGS84 ellipsoid at a
// latitude: the radii of curvature across and along the meridian. Near a
// position, x = (longitude - longitude0) * east and y = (latitude - latitude0)
// * north are ground metres; the error grows with the distance from the
// position: about 1 mm at 30 m, 0.1 m at 1 km (mid latitudes).
struct GroundScale {
  double east;
  double north;
};

inline GroundScale GroundScaleAt(double latitude) {
  constexpr double a = 6378137.0;
  constexpr double f = 1 / 298.257223563;
  constexpr double e2 = f * (2 - f);
  constexpr double radiansPerDegree = 3.14159265358979323846 / 180;
  const double phi = latitude * radiansPerDegree;
  const double s = std::sin(phi);
  const double w2 = 1 - e2 * s * s;
  const double w = std::sqrt(w2);
  const double n = a / w;
  const double m = a * (1 - e2) / (w2 * w);
  return {n * std::cos(phi) * radiansPerDegree, m * radiansPerDegree};
}

}  // namespace cuserver
