#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>

#include <fmt/format.h>

#include <cmath>
#include <random>

#include "map/distance.hpp"
#include "map/map_services.hpp"
#include "support/map_fixture.hpp"

namespace cuserver {
namespace {

double Reference(LonLat a, LonLat b) {
  double metres = 0;
  GeographicLib::Geodesic::WGS84().Inverse(a.latitude, a.longitude, b.latitude, b.longitude, metres);
  return metres;
}

double Fast(LonLat a, LonLat b) { return WgsDistanceMetres(a.longitude, a.latitude, b.longitude, b.latitude); }

TEST(Distance, KnownLengthsOnTheEllipsoid) {
  auto map = CreateMapServices(30);
  // A degree of the equator is 2 pi a / 360.
  EXPECT_NEAR(map->DistanceMetres(0, 0, 1, 0), 111319.49079327357, 1e-6);
  // A degree of meridian from the equator (GeographicLib's value).
  EXPECT_NEAR(map->DistanceMetres(0, 0, 0, 1), 110574.38855779878, 1e-6);
  // Quarter meridian, equator to pole.
  EXPECT_NEAR(map->DistanceMetres(10, 0, 10, 90), 10001965.729, 1e-3);
}

TEST(Distance, IdenticalPositionsAreZeroApart) {
  auto map = CreateMapServices(30);
  EXPECT_EQ(map->DistanceMetres(103.3496, 23.378333, 103.3496, 23.378333), 0.0);
  EXPECT_EQ(map->DistanceMetres(0, 90, 0, 90), 0.0);
  EXPECT_EQ(map->DistanceMetres(-180, -45, -180, -45), 0.0);
}

// Steps between consecutive fixes, from 1 cm to 10 km, in every direction and
// at every latitude, agree with GeographicLib's geodesic to 1e-6 relative.
// (Below a centimetre GeographicLib's own rounding, some nanometres, is
// larger than that; there both agree to 1e-8 m.)
TEST(Distance, ShortStepsAgreeWithTheGeodesic) {
  std::mt19937_64 random(20261207);
  std::uniform_real_distribution<double> longitude(-180, 180);
  std::uniform_real_distribution<double> latitude(-89.99, 89.99);
  std::uniform_real_distribution<double> azimuth(-180, 180);
  std::uniform_real_distribution<double> exponent(-2, 4);  // 1 cm to 10 km
  double worst = 0;
  for (int i = 0; i < 200000; ++i) {
    const LonLat a{longitude(random), latitude(random)};
    const LonLat b = Moved(a, azimuth(random), std::pow(10.0, exponent(random)));
    const double reference = Reference(a, b);
    const double error = std::abs(Fast(a, b) - reference);
    worst = std::max(worst, error / reference);
    ASSERT_LE(error, 1e-6 * reference) << a.longitude << "," << a.latitude << " to " << b.longitude << ","
                                        << b.latitude << ": " << reference;
  }
  RecordProperty("worst_relative_error", fmt::format("{:.3g}", worst));
}

// Consecutive steps share an end, whose terms the next step reuses: a step
// gives the same metres, to the bit, whatever step came before it.
TEST(Distance, AStepIsTheSameWhateverStepCameBefore) {
  std::mt19937_64 random(20261208);
  std::uniform_real_distribution<double> longitude(-180, 180);
  std::uniform_real_distribution<double> latitude(-89.99, 89.99);
  for (int i = 0; i < 1000; ++i) {
    const LonLat a{longitude(random), latitude(random)};
    const LonLat b = Moved(a, 360.0 * i / 1000, 500);
    const LonLat elsewhere{longitude(random), latitude(random)};
    Fast(elsewhere, LonLat{a.longitude + 1, elsewhere.latitude});
    const double fresh = Fast(a, b);
    Fast(elsewhere, a);  // ends where the step starts
    ASSERT_EQ(Fast(a, b), fresh);
    Fast(elsewhere, LonLat{a.longitude, -a.latitude});  // the same latitude but for its sign
    ASSERT_EQ(Fast(a, b), fresh);
  }
}

TEST(Distance, StepsAtTheEdgesOfTheMap) {
  const std::vector<std::pair<LonLat, LonLat>> cases = {
      {{179.9999, 10}, {-179.9999, 10}},     // across the antimeridian
      {{0, 89.9999}, {180, 89.9999}},        // across the north pole
      {{45, -89.99995}, {-135, -89.99995}},  // across the south pole
      {{103.3496, 23.378333}, {103.3496, 23.378334}},  // 0.1 m, the fixes' resolution
  };
  for (const auto& [a, b] : cases) {
    const double reference = Reference(a, b);
    EXPECT_NEAR(Fast(a, b), reference, 1e-6 * reference) << a.longitude << "," << a.latitude;
  }
  const LonLat a{103.35, 23.378};
  const LonLat b{103.35 + 1e-9, 23.378 - 1e-9};  // 0.15 mm
  EXPECT_NEAR(Fast(a, b), Reference(a, b), 1e-8);
}

TEST(Distance, LongDistancesAreTheGeodesic) {
  const std::vector<std::pair<LonLat, LonLat>> cases = {
      {{103.35, 23.378}, {103.45, 23.378}},   // just over 10 km
      {{116.4, 39.9}, {121.47, 31.23}},       // Beijing to Shanghai
      {{0, 0}, {179.5, 0.5}},                 // nearly antipodal
  };
  for (const auto& [a, b] : cases) {
    EXPECT_DOUBLE_EQ(Fast(a, b), Reference(a, b));
    EXPECT_DOUBLE_EQ(GeodesicMetres(a.longitude, a.latitude, b.longitude, b.latitude), Reference(a, b));
  }
}

}  // namespace
}  // namespace cuserver
