#include "support/map_fixture.hpp"

#include <stdlib.h>

#include <GeographicLib/Geodesic.hpp>

#include <stdexcept>

#include "map/map_writer.hpp"

namespace cuserver {

LonLat Moved(LonLat from, double azimuth, double metres) {
  LonLat to;
  GeographicLib::Geodesic::WGS84().Direct(from.latitude, from.longitude, azimuth, metres, to.latitude,
                                          to.longitude);
  return to;
}

namespace {

LonLat Shifted(double east, double north) {
  return {TestMap::kCentre.longitude + east, TestMap::kCentre.latitude + north};
}

MapFeature Square(const std::string& name, LonLat low, LonLat high) {
  return {MapShape::Region,
          {low, {high.longitude, low.latitude}, high, {low.longitude, high.latitude}},
          {name}};
}

}  // namespace

void TestMap::WriteHighways(const std::filesystem::path& table) {
  const LonLat c = kCentre;
  MapTable highways;
  highways.fields = {"名称"};
  highways.features = {
      {MapShape::Line, {Moved(c, 270, 1000), c, Moved(c, 90, 1000)}, {"广昆高速"}},
      {MapShape::Line, {Moved(c, 180, 1000), Moved(c, 0, 1000)}, {"汕昆高速"}},
      {MapShape::Line, {Moved(Moved(c, 0, 5000), 270, 1000), Moved(Moved(c, 0, 5000), 90, 1000)}, {""}},
      {MapShape::Point, {Moved(c, 90, 3000)}, {"收费站"}},
  };
  WriteMapTable(table, highways);
}

void TestMap::WriteAreas(const std::filesystem::path& table) {
  MapTable areas;
  areas.fields = {"区域名"};
  areas.features = {
      Square("城区", Shifted(0, 0), Shifted(0.01, 0.01)),
      Square("开发区", Shifted(-0.02, -0.02), Shifted(0.02, 0.02)),
      Square("", Shifted(0, 0.05), Shifted(0.01, 0.06)),
  };
  WriteMapTable(table, areas);
}

std::filesystem::path TestMap::Write(const std::filesystem::path& folder) {
  const auto maps = folder / "HighWay";
  std::filesystem::create_directories(maps);
  WriteHighways(maps / "HIGHWAY.TAB");
  WriteAreas(maps / "userspeed.MIF");
  WriteGeoset(maps / "HIGHWAY.gst", "高速公路", {"HIGHWAY.TAB", "userspeed.MIF"});
  return maps / "HIGHWAY.gst";
}

}  // namespace cuserver
