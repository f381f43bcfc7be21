#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "map/lon_lat.hpp"

namespace cuserver {

// The shapes of one feature, in WGS84 longitude and latitude.
struct FeatureShapes {
  std::vector<LonLat> points;
  std::vector<std::vector<LonLat>> lines;
  std::vector<std::vector<std::vector<LonLat>>> regions;  // each: outer ring, then holes
};

// True when at least one of the shapes can be placed on the earth: a point,
// a line of one position or more, or a region whose outer ring has three
// positions or more, every position finite and within -180 to 180 degrees of
// longitude and -90 to 90 of latitude. A feature whose object a damaged table
// does not give (a zeroed .ID, a .MAP cut short) has none.
bool HasUsableShape(const FeatureShapes& shapes);

// A map table as read: attribute texts in UTF-8 and each feature's shapes, in
// the table's feature order.
struct MapTableContents {
  std::vector<std::string> fields;
  std::vector<std::vector<std::string>> values;  // per feature, per field read
  std::vector<FeatureShapes> shapes;             // per feature
};

enum class TableRead {
  KeyAndShapes,        // the first attribute field and the shapes
  AllFieldsAndShapes,  // every attribute field and the shapes
};

// Reads the first layer of a vector file GDAL can open (MapInfo TAB or MIF,
// Shapefile, GeoJSON, GeoPackage...). Texts stored in code page 936 arrive as
// UTF-8; coordinates of a projected table are turned into WGS84. Throws
// MapError naming the file and GDAL's reason.
MapTableContents ReadMapTable(const std::filesystem::path& path, TableRead what);

}  // namespace cuserver
