#include "map/distance.hpp"

#include <GeographicLib/Geodesic.hpp>

#include <bit>
#include <cmath>
#include <cstdint>

namespace cuserver {
namespace {

constexpr double kA = 6378137.0;
constexpr double kF = 1 / 298.257223563;
constexpr double kE2 = kF * (2 - kF);
constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180;
constexpr double kChordLimit = 10000.0;
constexpr double kMeanRadius = 6371008.8;

// What the chord needs of one end's latitude. A track's distance is summed
// over consecutive steps, each starting where the one before ended: the last
// end's terms are kept per thread, and reused for a latitude of the same bits
// (so the result is exactly the one computed afresh).
struct Parallel {
  std::uint64_t bits = 0;
  bool known = false;
  double s = 0, c = 0, w = 0, n = 0;  // sin and cos of phi, sqrt(1 - e^2 sin^2 phi), N
};

Parallel ParallelAt(double latitude) {
  Parallel p;
  p.bits = std::bit_cast<std::uint64_t>(latitude);
  p.known = true;
  const double phi = latitude * kRadiansPerDegree;
  p.s = std::sin(phi);
  p.c = std::cos(phi);
  p.w = std::sqrt(1 - kE2 * p.s * p.s);
  p.n = kA / p.w;
  return p;
}

thread_local Parallel lastEnd;

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
  const Parallel end1 =
      lastEnd.known && lastEnd.bits == std::bit_cast<std::uint64_t>(latitude1) ? lastEnd : ParallelAt(latitude1);
  const Parallel end2 = ParallelAt(latitude2);
  lastEnd = end2;
  const double s1 = end1.s, c1 = end1.c, w1 = end1.w, n1 = end1.n;
  const double s2 = end2.s, c2 = end2.c, w2 = end2.w, n2 = end2.n;
  const double sinHalfDeltaPhi = std::sin(halfDeltaPhi);
  const double sinHalfDeltaLambda = std::sin(halfDeltaLambda);

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
