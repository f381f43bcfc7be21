#pragma once

#include <filesystem>
#include <string>

namespace cuserver {

// The layers of a geoset as one GeoJSON FeatureCollection (WGS84 longitude,
// latitude, to 6 decimals, about 0.1 m): every feature of every table the
// geoset lists, with the properties "layer" (the table's name) and "name"
// (its first field). Throws MapError naming the file.
std::string GeosetLayersGeoJson(const std::filesystem::path& geoset);

}  // namespace cuserver
