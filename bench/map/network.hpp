#pragma once

// A made-up but road-like map for the benchmarks: winding highways and
// polygonal speed areas over a 600 km square of Yunnan, and query positions
// of which about half lie near a highway or inside an area.

#include <filesystem>
#include <string>
#include <vector>

#include "map/map_writer.hpp"

namespace cuserver::bench {

struct BenchMap {
  MapTable highways;  // lines; the segment count is what is asked for
  MapTable areas;     // regions
  std::vector<LonLat> highwayQueries;
  std::vector<LonLat> areaQueries;
};

BenchMap MakeBenchMap(int highwaySegments, int areaCount, int queryCount);

// Writes HIGHWAY.TAB, userspeed.TAB and HIGHWAY.gst into the folder and
// returns the geoset's path.
std::filesystem::path WriteBenchMap(const BenchMap& map, const std::filesystem::path& folder);

}  // namespace cuserver::bench
