#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "map/map_services.hpp"
#include "map/map_table.hpp"
#include "map/map_writer.hpp"
#include "map/text_codec.hpp"
#include "support/map_fixture.hpp"

namespace cuserver {
namespace {

std::string Bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Cp936(const std::string& utf8) { return Utf8ToCp936(utf8).value(); }

MapTable RoadsWithOneOfEachShape() {
  MapTable table;
  table.fields = {"名称", "code"};
  table.features = {
      {MapShape::Line, {{103.3, 23.3}, {103.4, 23.4}}, {"广昆高速", "G80"}},
      {MapShape::Region, {{103, 23}, {104, 23}, {104, 24}}, {"区域\"甲\"", "1"}},
      {MapShape::Point, {{103.5, 23.5}}, {"", ""}},
  };
  return table;
}

TEST(MapWriter, TabTableIsStoredInCodePage936AsMapInfoStoresIt) {
  TempDir dir;
  WriteMapTable(dir.Path() / "ROADS.TAB", RoadsWithOneOfEachShape());
  for (const char* companion : {"ROADS.DAT", "ROADS.MAP", "ROADS.ID"}) {
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / companion)) << companion;
  }
  const std::string tab = Bytes(dir.Path() / "ROADS.TAB");
  EXPECT_NE(tab.find("Charset \"WindowsSimpChinese\""), std::string::npos);
  EXPECT_NE(tab.find("    " + Cp936("名称") + " Char"), std::string::npos) << tab;
  const std::string dat = Bytes(dir.Path() / "ROADS.DAT");
  EXPECT_EQ(dat.substr(32, 5), Cp936("名称") + '\0');
  EXPECT_EQ(dat.substr(64, 5), std::string("code\0", 5));
  EXPECT_NE(dat.find(Cp936("广昆高速")), std::string::npos);
}

TEST(MapWriter, TablesReadBackWithTheirNamesValuesAndShapes) {
  TempDir dir;
  for (const char* file : {"roads.tab", "roads.mif"}) {
    WriteMapTable(dir.Path() / file, RoadsWithOneOfEachShape());
    const auto read = ReadMapTable(dir.Path() / file, TableRead::AllFieldsAndShapes);
    EXPECT_EQ(read.fields, (std::vector<std::string>{"名称", "code"})) << file;
    ASSERT_EQ(read.values.size(), 3u) << file;
    EXPECT_EQ(read.values[0], (std::vector<std::string>{"广昆高速", "G80"})) << file;
    EXPECT_EQ(read.values[1][0], "区域\"甲\"") << file;
    EXPECT_EQ(read.values[2][0], "") << file;
    ASSERT_EQ(read.shapes[0].lines.size(), 1u) << file;
    EXPECT_NEAR(read.shapes[0].lines[0][1].longitude, 103.4, 1e-6) << file;
    ASSERT_EQ(read.shapes[1].regions.size(), 1u) << file;
    EXPECT_EQ(read.shapes[1].regions[0][0].size(), 4u) << file;  // closed when written
    ASSERT_EQ(read.shapes[2].points.size(), 1u) << file;
  }
}

TEST(MapWriter, MifKeepsCoordinatesExactly) {
  TempDir dir;
  WriteMapTable(dir.Path() / "roads.mif", RoadsWithOneOfEachShape());
  const auto read = ReadMapTable(dir.Path() / "roads.mif", TableRead::KeyAndShapes);
  EXPECT_EQ(read.shapes[0].lines[0][1].longitude, 103.4);
  EXPECT_EQ(read.shapes[0].lines[0][1].latitude, 23.4);
  const std::string mid = Bytes(dir.Path() / "roads.mid");
  EXPECT_EQ(mid.substr(0, mid.find("\r\n")), "\"" + Cp936("广昆高速") + "\",\"G80\"");
}

TEST(MapWriter, RefusesWhatTheTableCannotHold) {
  TempDir dir;
  MapTable table = RoadsWithOneOfEachShape();
  table.fields[0] = "非常长的字段名称";  // 16 bytes in code page 936
  EXPECT_THROW(WriteMapTable(dir.Path() / "a.tab", table), MapError);
  table = RoadsWithOneOfEachShape();
  table.chinese = false;
  EXPECT_THROW(WriteMapTable(dir.Path() / "a.mif", table), MapError);
  table = RoadsWithOneOfEachShape();
  table.features[0].values.pop_back();
  EXPECT_THROW(WriteMapTable(dir.Path() / "a.tab", table), MapError);
  EXPECT_THROW(WriteMapTable(dir.Path() / "a.shp", RoadsWithOneOfEachShape()), MapError);
}

TEST(MapWriter, GeosetIsCodePage936WithCrlfLines) {
  TempDir dir;
  WriteGeoset(dir.Path() / "HIGHWAY.gst", "高速公路", {"HIGHWAY.TAB", "areas\\userspeed.TAB"});
  const std::string text = Bytes(dir.Path() / "HIGHWAY.gst");
  EXPECT_EQ(text.substr(0, 23), "!GEOSET\r\n!VERSION 450\r\n");
  EXPECT_NE(text.find("\"\\GEOSET\\NAME\" = \"" + Cp936("高速公路") + "\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"\\TABLE\\1\\FILE\" = \"HIGHWAY.TAB\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"\\TABLE\\2\\FILE\" = \"areas\\userspeed.TAB\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"\\TABLE\\2\\DESCRIPTION\" = \"userspeed\"\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 14), "end_metadata\r\n");
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);
}

}  // namespace
}  // namespace cuserver
