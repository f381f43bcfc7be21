#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map/map_writer.hpp"

namespace cuserver::sim {

struct GeoPoint {
  double longitude;  // degrees
  double latitude;   // degrees
};

struct NamedLine {
  std::string name;
  std::vector<GeoPoint> points;
};

struct NamedArea {
  std::string name;
  std::vector<GeoPoint> ring;  // closed: the last point repeats the first
  int highway;                 // the highway the area lies on
};

struct RoadNetwork {
  std::vector<NamedLine> highways;
  std::vector<NamedArea> areas;
  std::vector<RoadRecord> roads;  // the road table (wxxlxl)
};

struct NetworkSize {
  int highwaySegments = 2000;
  int areas = 10;
  int roads = 40;
};

// A deterministic network for a seed: highways as polylines of segments of
// about 1 km inside a square of about 4 degrees, speed areas as polygons of
// 1 to 3 km radius centred on highways, and a road list.
RoadNetwork GenerateRoadNetwork(std::uint64_t seed, const NetworkSize& size);

// Metres per degree of latitude and of longitude at a latitude, on a sphere;
// good enough for laying out synthetic tracks.
double MetresPerDegreeLatitude();
double MetresPerDegreeLongitude(double latitude);

}  // namespace cuserver::sim
