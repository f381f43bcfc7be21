#include <gtest/gtest.h>

#include "map/map_services.hpp"

namespace cuserver {
namespace {

TEST(MapSettings, DefaultsToTheHighwayGeosetUnderTheStartDirectory) {
  const auto settings = ReadMapSettings(IniFile::Parse("[General]\r\nUSERID=gps\r\n"), "/srv/cuserver");
  EXPECT_EQ(settings.geoset, std::filesystem::path("/srv/cuserver/HighWay/HIGHWAY.gst"));
  EXPECT_EQ(settings.toleranceMetres, 30.0);
}

TEST(MapSettings, RelativeGeosetWithBackslashesIsUnderTheStartDirectory) {
  const auto settings =
      ReadMapSettings(IniFile::Parse("[map]\r\ngeoset=Maps\\Yunnan.gst\r\nTOLERANCEMETRES=12.5\r\n"), "/srv/cuserver");
  EXPECT_EQ(settings.geoset, std::filesystem::path("/srv/cuserver/Maps/Yunnan.gst"));
  EXPECT_EQ(settings.toleranceMetres, 12.5);
}

TEST(MapSettings, AbsoluteGeosetIsTakenAsItIs) {
  const auto settings = ReadMapSettings(IniFile::Parse("[Map]\nGeoset=/data/maps/HIGHWAY.gst\n"), "/srv/cuserver");
  EXPECT_EQ(settings.geoset, std::filesystem::path("/data/maps/HIGHWAY.gst"));
}

TEST(MapSettings, ToleranceThatIsNotAPositiveNumberKeepsTheDefault) {
  for (const char* value : {"", "abc", "0", "-5", "nan"}) {
    const auto ini = IniFile::Parse(std::string("[Map]\nToleranceMetres=") + value + "\n");
    EXPECT_EQ(ReadMapSettings(ini, "/srv").toleranceMetres, 30.0) << value;
  }
}

}  // namespace
}  // namespace cuserver
