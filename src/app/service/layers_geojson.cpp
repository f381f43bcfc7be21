#include "app/service/layers_geojson.hpp"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include <cmath>

#include "map/geoset.hpp"
#include "map/map_services.hpp"
#include "map/map_table.hpp"
#include "map/windows_path.hpp"

namespace cuserver {
namespace {

nlohmann::json Position(const LonLat& point) {
  auto round6 = [](double value) { return std::round(value * 1e6) / 1e6; };
  return nlohmann::json::array({round6(point.longitude), round6(point.latitude)});
}

nlohmann::json Path(const std::vector<LonLat>& points) {
  nlohmann::json path = nlohmann::json::array();
  for (const LonLat& point : points) path.push_back(Position(point));
  return path;
}

nlohmann::json Geometry(const FeatureShapes& shapes) {
  nlohmann::json parts = nlohmann::json::array();
  if (!shapes.points.empty()) {
    parts.push_back({{"type", "MultiPoint"}, {"coordinates", Path(shapes.points)}});
  }
  if (!shapes.lines.empty()) {
    nlohmann::json lines = nlohmann::json::array();
    for (const auto& line : shapes.lines) lines.push_back(Path(line));
    parts.push_back({{"type", "MultiLineString"}, {"coordinates", lines}});
  }
  if (!shapes.regions.empty()) {
    nlohmann::json polygons = nlohmann::json::array();
    for (const auto& region : shapes.regions) {
      nlohmann::json rings = nlohmann::json::array();
      for (const auto& ring : region) rings.push_back(Path(ring));
      polygons.push_back(rings);
    }
    parts.push_back({{"type", "MultiPolygon"}, {"coordinates", polygons}});
  }
  if (parts.empty()) return nullptr;
  if (parts.size() == 1) return parts[0];
  return {{"type", "GeometryCollection"}, {"geometries", parts}};
}

std::string TableName(const std::string& file) {
  std::string name = file.substr(file.find_last_of("\\/") == std::string::npos ? 0 : file.find_last_of("\\/") + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

std::string GeosetLayersGeoJson(const std::filesystem::path& geoset) {
  std::filesystem::path file = geoset;
  std::error_code error;
  if (!std::filesystem::exists(file, error)) {
    auto found = FindLikeWindows({}, geoset.string());
    if (!found) throw MapError(fmt::format("无法读取图层集 {}：文件不存在", geoset.string()));
    file = *found;
  }
  nlohmann::json features = nlohmann::json::array();
  for (const std::string& table : ReadGeoset(file)) {
    const auto path = FindLikeWindows(file.parent_path(), table);
    if (!path) {
      throw MapError(fmt::format("无法读取图层集 {1} 中列出的地图表 {0}：文件不存在",
                                 (file.parent_path() / table).string(), file.string()));
    }
    const MapTableContents contents = ReadMapTable(*path, TableRead::KeyAndShapes);
    const std::string layer = TableName(table);
    for (size_t i = 0; i < contents.shapes.size(); ++i) {
      nlohmann::json geometry = Geometry(contents.shapes[i]);
      if (geometry.is_null()) continue;
      const std::string name =
          i < contents.values.size() && !contents.values[i].empty() ? contents.values[i][0] : std::string();
      features.push_back({{"type", "Feature"},
                          {"geometry", std::move(geometry)},
                          {"properties", {{"layer", layer}, {"name", name}}}});
    }
  }
  nlohmann::json collection = {{"type", "FeatureCollection"}, {"features", std::move(features)}};
  return collection.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace cuserver
