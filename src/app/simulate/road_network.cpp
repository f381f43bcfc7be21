#include "app/simulate/road_network.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace cuserver::sim {
namespace {

constexpr double kCentreLongitude = 103.0;
constexpr double kCentreLatitude = 24.5;
constexpr double kHalfSpanDegrees = 2.0;
constexpr int kSegmentsPerHighway = 500;

const char* const kDistricts[] = {"五华区", "盘龙区", "官渡区", "西山区", "呈贡区", "晋宁区"};

double Radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

}  // namespace

double MetresPerDegreeLatitude() { return 111195.0; }
double MetresPerDegreeLongitude(double latitude) { return 111195.0 * std::cos(Radians(latitude)); }

RoadNetwork GenerateRoadNetwork(std::uint64_t seed, const NetworkSize& size) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  RoadNetwork net;

  const int highwayCount = std::max(1, (size.highwaySegments + kSegmentsPerHighway - 1) / kSegmentsPerHighway);
  int segmentsLeft = size.highwaySegments;
  for (int h = 0; h < highwayCount; ++h) {
    NamedLine line;
    line.name = fmt::format("G{}高速", 101 + h);
    const int segments = std::max(1, std::min(kSegmentsPerHighway, segmentsLeft));
    segmentsLeft -= segments;
    GeoPoint p{kCentreLongitude + (unit(rng) * 2 - 1) * kHalfSpanDegrees * 0.8,
               kCentreLatitude + (unit(rng) * 2 - 1) * kHalfSpanDegrees * 0.8};
    double heading = unit(rng) * 2 * std::numbers::pi;
    line.points.push_back(p);
    for (int s = 0; s < segments; ++s) {
      heading += (unit(rng) - 0.5) * Radians(20);
      const double length = 700 + unit(rng) * 600;
      GeoPoint q{p.longitude + std::sin(heading) * length / MetresPerDegreeLongitude(p.latitude),
                 p.latitude + std::cos(heading) * length / MetresPerDegreeLatitude()};
      // Turn back at the border of the square.
      if (std::abs(q.longitude - kCentreLongitude) > kHalfSpanDegrees ||
          std::abs(q.latitude - kCentreLatitude) > kHalfSpanDegrees) {
        heading += std::numbers::pi / 2;
        q = GeoPoint{p.longitude + std::sin(heading) * length / MetresPerDegreeLongitude(p.latitude),
                     p.latitude + std::cos(heading) * length / MetresPerDegreeLatitude()};
      }
      line.points.push_back(q);
      p = q;
    }
    net.highways.push_back(std::move(line));
  }

  for (int a = 0; a < size.areas; ++a) {
    NamedArea area;
    area.highway = static_cast<int>(rng() % net.highways.size());
    const auto& points = net.highways[area.highway].points;
    const GeoPoint centre = points[rng() % points.size()];
    const double radius = 1000 + unit(rng) * 2000;
    area.name = fmt::format("限速区{}", a + 1);
    for (int k = 0; k <= 24; ++k) {
      const double angle = (k % 24) * 2 * std::numbers::pi / 24;
      area.ring.push_back({centre.longitude + std::sin(angle) * radius / MetresPerDegreeLongitude(centre.latitude),
                           centre.latitude + std::cos(angle) * radius / MetresPerDegreeLatitude()});
    }
    net.areas.push_back(std::move(area));
  }

  for (int r = 0; r < size.roads; ++r) {
    RoadRecord road;
    road.name = fmt::format("{}路", 100 + r);
    // Every tenth road has no main code (not imported); one name has an apostrophe.
    road.mainCode = r % 10 == 9 ? "" : fmt::format("S{:03}", r + 1);
    road.secondaryCode = fmt::format("{:02}", r % 7);
    road.thirdCode = fmt::format("{:03}", r);
    road.district = kDistricts[r % std::size(kDistricts)];
    if (r == 3) road.name = "O'Neil大道";
    const auto& line = net.highways[static_cast<std::size_t>(r) % net.highways.size()].points;
    const GeoPoint& at = line[static_cast<std::size_t>(r * 7) % line.size()];
    road.positions = {{at.longitude + 0.01, at.latitude + 0.01}, {at.longitude + 0.02, at.latitude + 0.015}};
    net.roads.push_back(std::move(road));
  }
  return net;
}

}  // namespace cuserver::sim
