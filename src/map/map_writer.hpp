#pragma once

// Writes small map files in the form the tracking service's map uses: MapInfo
// tables (TAB or MIF/MID) of named features and the geoset that lists them.
// Used to build test maps and the demo fleet's map.

#include <filesystem>
#include <string>
#include <vector>

#include "map/lon_lat.hpp"

namespace cuserver {

enum class MapShape { Point, Line, Region };

struct MapFeature {
  MapShape shape = MapShape::Line;
  // Point: one position. Line: two or more. Region: one ring of three or more
  // (closed or not; it is closed when written).
  std::vector<LonLat> positions;
  std::vector<std::string> values;  // UTF-8, one per field of the table
};

struct MapTable {
  // UTF-8 field names; the first is the key field that names a feature. With
  // the Chinese charset a name takes at most 10 bytes in code page 936.
  std::vector<std::string> fields;
  std::vector<MapFeature> features;
  // True: texts stored in code page 936 under the charset "WindowsSimpChinese",
  // as the service's tables are. False: charset "Neutral", ASCII texts only.
  bool chinese = true;
};

// Writes the table. The format follows the extension, without regard to case:
// ".tab" (written by GDAL, then its field names set in the .TAB and .DAT as
// MapInfo stores them) or ".mif" (MIF and MID written directly). Throws
// MapError naming the file and the reason.
void WriteMapTable(const std::filesystem::path& path, const MapTable& table);

// Writes a geoset listing the tables in order. Each entry is written as given
// (a path relative to the geoset's folder, backslashes allowed); texts go out in
// code page 936 with CRLF line ends. Throws MapError naming the file.
void WriteGeoset(const std::filesystem::path& path, const std::string& name,
                 const std::vector<std::string>& tableFiles);

// A road of the road-information table.
struct RoadRecord {
  std::string mainCode;       // 主编码
  std::string secondaryCode;  // 副编码
  std::string thirdCode;      // 三级编码
  std::string name;           // name
  std::string district;       // 行政区
  std::vector<LonLat> positions;  // the road's line
};

// The road-information table: fields 主编码, 副编码, 三级编码, name and 行政区
// in that order, Chinese charset. A road without positions gets a short line
// at (0, 0).
MapTable RoadTable(const std::vector<RoadRecord>& roads);

}  // namespace cuserver
