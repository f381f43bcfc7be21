#include "app/simulate/map_files.hpp"

#include "map/map_writer.hpp"

namespace cuserver::sim {
namespace {

std::vector<LonLat> Positions(const std::vector<GeoPoint>& points) {
  std::vector<LonLat> out;
  out.reserve(points.size());
  for (const auto& p : points) out.push_back({p.longitude, p.latitude});
  return out;
}

}  // namespace

void WriteMapFiles(const std::filesystem::path& folder, const RoadNetwork& net) {
  std::filesystem::create_directories(folder);

  MapTable highways;
  highways.fields = {"name", "code"};
  for (std::size_t i = 0; i < net.highways.size(); ++i) {
    highways.features.push_back(
        {MapShape::Line, Positions(net.highways[i].points), {net.highways[i].name, std::to_string(i + 1)}});
  }
  WriteMapTable(folder / "HIGHWAY.TAB", highways);

  MapTable areas;
  areas.fields = {"name", "code"};
  for (std::size_t i = 0; i < net.areas.size(); ++i) {
    areas.features.push_back(
        {MapShape::Region, Positions(net.areas[i].ring), {net.areas[i].name, std::to_string(i + 1)}});
  }
  WriteMapTable(folder / "userspeed.TAB", areas);

  WriteMapTable(folder / "wxxlxl.tab", RoadTable(net.roads));
  WriteGeoset(folder / "HIGHWAY.gst", "HIGHWAY", {"HIGHWAY.TAB", "userspeed.TAB"});
}

}  // namespace cuserver::sim
