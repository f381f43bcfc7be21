#pragma once

// Map files for tests: a throwaway folder, positions set off by ground
// distances, and a small highway map of the form the service uses.

#include <filesystem>
#include <string>

#include "map/lon_lat.hpp"
#include "support/temp_dir.hpp"

namespace cuserver {

// The position reached from `from` after `metres` on the WGS84 ellipsoid in
// the direction `azimuth` (degrees clockwise from north), by GeographicLib.
LonLat Moved(LonLat from, double azimuth, double metres);

// The test map around kCentre:
// - HIGHWAY (a TAB table, key field 名称): 1 "广昆高速" runs 2 km west to east
//   through the centre; 2 "汕昆高速" runs 2 km south to north through it (the
//   two cross at the centre); 3, with an empty name, runs west to east 5 km
//   north of the centre; 4 "收费站" is a point 3 km east of the centre.
// - userspeed (a MIF table, key field 区域名): 1 "城区" is the square from the
//   centre to 0.01 degrees north and east; 2 "开发区" the square 0.02 degrees
//   each way around the centre (it holds the first); 3, with an empty name, the
//   square from 0.05 to 0.06 degrees north of the centre.
// Its geoset is <folder>/HighWay/HIGHWAY.gst, as the service keeps it.
struct TestMap {
  static constexpr LonLat kCentre{103.35, 23.378};
  static std::filesystem::path Write(const std::filesystem::path& folder);
  static void WriteHighways(const std::filesystem::path& table);
  static void WriteAreas(const std::filesystem::path& table);
};

}  // namespace cuserver
