#include "map/distance.hpp"

#include <GeographicLib/Geodesic.hpp>

#include <cmath>

namespace cuserver {
namespace {

constexpr double kA = 6378137.0;
constexpr double kF = 1 / 298.257223563;
constexpr double kE2 = kF * (2 - kF);
constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180;
constexpr double kChordLimit = 10000.0;
constexpr double kMeanRadius = 6371008.8;

// The chord between two positions through the ellipsoid, from differences
// formed without cancellation, so that it keeps its relative precision down to
// steps of a micrometre. A position lies at distance u = N cos(phi) from the
// axis and at height z = N (1 - e^2) sin(phi) above the equator's plane.
double ChordMetres(double longitude1, double latitude1, double longitude2, double latitude2) {
  const double phi1 = latitude1 * kRadiansPerDegree;
  const double phi2 = latitude2 * kRadiansPerDegree;
  const double halfDeltaPhi = (latitude1 - latitude2) * kRadiansPerDegree / 2;
  const double meanPhi = (phi1 + phi2) / 2;
  const double halfDeltaLambda = (longitude1 - longitude2) * kRadiansPerDegree / 2;
  const double s1 = std::sin(phi1), c1 = std::cos(phi1);
  const double s2 = std::sin(phi2), c2 = std::cos(phi2);
  const double sinHalfDeltaPhi = std::sin(halfDeltaPhi);
  const double sinHalfDeltaLambda = std::sin(halfDeltaLambda);

  const double w1 = std::sqrt(1 - kE2 * s1 * s1);
  const double w2 = std::sqrt(1 - kE2 * s2 * s2);
  const double n1 = kA / w1;
  const double n2 = kA / w2;
  const double deltaS = 2 * std::cos(meanPhi) * sinHalfDeltaPhi;   // s1 - s2
  const double deltaC = -2 * std::sin(meanPhi) * sinHalfDeltaPhi;  // c1 - c2
  const double deltaW = -kE2 * deltaS * (s1 + s2) / (w1 + w2);     // w1 - w2
  const double deltaN = -kA * deltaW / (w1 * w2);                   // n1 - n2

  const double deltaU = n1 * deltaC + c2 * deltaN;
  const double deltaZ = (1 - kE2) * (n1 * deltaS + s2 * deltaN);
  const double u1 = n1 * c1;
  const double u2 = n2 * c2;
  const double across = 2 * sinHalfDeltaLambda;
  return std::sqrt(deltaU * deltaU + u1 * u2 * across * across + deltaZ * deltaZ);
}

}  // namespace

double GeodesicMetres(double longitude1, double latitude1, double longitude2, double latitude2) {
  double metres = 0;
  GeographicLib::Geodesic::WGS84().Inverse(latitude1, longitude1, latitude2, longitude2, metres);
  return metres;
}

double WgsDistanceMetres(double longitude1, double latitude1, double longitude2, double latitude2) {
  if (longitude1 == longitude2 && latitude1 == latitude2) return 0;
  const double chord = ChordMetres(longitude1, latitude1, longitude2, latitude2);
  if (!(chord <= kChordLimit)) return GeodesicMetres(longitude1, latitude1, longitude2, latitude2);
  // An arc of radius R over the chord c is c (1 + c^2 / (24 R^2)); over 10 km
  // the curvature of the ellipsoid changes that term by under 1e-9 relative.
  return chord * (1 + chord * chord / (24 * kMeanRadius * kMeanRadius));
}

}  // namespace cuserver
