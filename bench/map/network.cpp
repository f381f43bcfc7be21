#include "network.hpp"

#include <fmt/format.h>

#include <cmath>
#include <random>

namespace cuserver::bench {
namespace {

constexpr double kWest = 100, kSouth = 22, kSpan = 6;  // degrees
constexpr double kMetresPerDegree = 111000;
constexpr int kSegmentsPerHighway = 200;
constexpr double kStepMetres = 300;

}  // namespace

BenchMap MakeBenchMap(int highwaySegments, int areaCount, int queryCount) {
  std::mt19937_64 random(20261207);
  std::uniform_real_distribution<double> unit(0, 1);
  const auto somewhere = [&] { return LonLat{kWest + kSpan * unit(random), kSouth + kSpan * unit(random)}; };
  const double cosLat = std::cos(25 * 3.14159265358979 / 180);

  BenchMap map;
  map.highways.fields = {"名称"};
  for (int done = 0, road = 1; done < highwaySegments; ++road) {
    const int segments = std::min(kSegmentsPerHighway, highwaySegments - done);
    MapFeature line{MapShape::Line, {somewhere()}, {fmt::format("G{}高速", road)}};
    double heading = unit(random) * 2 * 3.14159265358979;
    for (int s = 0; s < segments; ++s) {
      heading += (unit(random) - 0.5) * 0.3;
      const LonLat& last = line.positions.back();
      line.positions.push_back({last.longitude + kStepMetres * std::sin(heading) / (kMetresPerDegree * cosLat),
                                last.latitude + kStepMetres * std::cos(heading) / kMetresPerDegree});
    }
    done += segments;
    map.highways.features.push_back(std::move(line));
  }

  map.areas.fields = {"区域名"};
  std::vector<std::pair<LonLat, double>> discs;
  for (int a = 0; a < areaCount; ++a) {
    const LonLat centre = somewhere();
    const double radius = (2000 + 18000 * unit(random)) / kMetresPerDegree;
    MapFeature area{MapShape::Region, {}, {fmt::format("区域{}", a + 1)}};
    for (int k = 0; k < 24; ++k) {
      const double angle = k * 2 * 3.14159265358979 / 24;
      const double r = radius * (0.8 + 0.2 * unit(random));
      area.positions.push_back({centre.longitude + r * std::cos(angle) / cosLat, centre.latitude + r * std::sin(angle)});
    }
    discs.emplace_back(centre, radius);
    map.areas.features.push_back(std::move(area));
  }

  // Half the highway queries fall within 60 m of a highway, half anywhere.
  for (int q = 0; q < queryCount; ++q) {
    if (q % 2 == 1) {
      map.highwayQueries.push_back(somewhere());
      continue;
    }
    const auto& line = map.highways.features[random() % map.highways.features.size()].positions;
    const size_t s = random() % (line.size() - 1);
    const double t = unit(random);
    const double offset = (unit(random) * 2 - 1) * 60 / kMetresPerDegree;
    map.highwayQueries.push_back({line[s].longitude + t * (line[s + 1].longitude - line[s].longitude) + offset,
                                  line[s].latitude + t * (line[s + 1].latitude - line[s].latitude)});
  }
  for (int q = 0; q < queryCount; ++q) {
    if (q % 2 == 1) {
      map.areaQueries.push_back(somewhere());
      continue;
    }
    const auto& [centre, radius] = discs[random() % discs.size()];
    const double angle = unit(random) * 2 * 3.14159265358979;
    const double r = radius * unit(random);
    map.areaQueries.push_back({centre.longitude + r * std::cos(angle) / cosLat, centre.latitude + r * std::sin(angle)});
  }
  return map;
}

std::filesystem::path WriteBenchMap(const BenchMap& map, const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  WriteMapTable(folder / "HIGHWAY.TAB", map.highways);
  WriteMapTable(folder / "userspeed.TAB", map.areas);
  WriteGeoset(folder / "HIGHWAY.gst", "benchmark", {"HIGHWAY.TAB", "userspeed.TAB"});
  return folder / "HIGHWAY.gst";
}

}  // namespace cuserver::bench
