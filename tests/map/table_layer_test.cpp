#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <fstream>

#include "map/map_services.hpp"
#include "map/map_writer.hpp"
#include "map/text_codec.hpp"
#include "support/map_fixture.hpp"

namespace cuserver {
namespace {

std::vector<RoadRecord> Roads() {
  return {
      {"530102", "01", "001", "北京路", "盘龙区", {{102.71, 25.04}, {102.72, 25.06}}},
      {"", "02", "", "无编码路", "五华区", {{102.70, 25.04}, {102.70, 25.05}}},
      {"530103", "", "", "", "西山区", {{102.65, 25.02}, {102.66, 25.02}}},
  };
}

TEST(OpenTableLayer, GivesTheRoadTablesFieldsByNameForEachFeatureFromOne) {
  TempDir dir;
  WriteMapTable(dir.Path() / "wxxlxl.tab", RoadTable(Roads()));
  auto map = CreateMapServices(30);
  auto table = map->OpenTableLayer(dir.Path() / "wxxlxl.tab", "wxxlxl");
  ASSERT_EQ(table->FeatureCount(), 3);
  EXPECT_EQ(table->FieldText(1, "name"), "北京路");
  EXPECT_EQ(table->FieldText(1, "主编码"), "530102");
  EXPECT_EQ(table->FieldText(1, "副编码"), "01");
  EXPECT_EQ(table->FieldText(1, "三级编码"), "001");
  EXPECT_EQ(table->FieldText(1, "行政区"), "盘龙区");
  EXPECT_EQ(table->FieldText(2, "主编码"), "");
  EXPECT_EQ(table->FieldText(3, "name"), "");
  EXPECT_EQ(table->FieldText(3, "NAME"), "");
  EXPECT_TRUE(table->HasField("行政区"));
  EXPECT_FALSE(table->HasField("道路"));
}

TEST(OpenTableLayer, UnknownFieldOrFeatureIsAFailure) {
  TempDir dir;
  WriteMapTable(dir.Path() / "wxxlxl.tab", RoadTable(Roads()));
  auto map = CreateMapServices(30);
  auto table = map->OpenTableLayer(dir.Path() / "wxxlxl.tab", "wxxlxl");
  EXPECT_THROW(table->FieldText(1, "道路"), MapError);
  EXPECT_THROW(table->FieldText(0, "name"), MapError);
  EXPECT_THROW(table->FieldText(4, "name"), MapError);
}

TEST(OpenTableLayer, FileIsFoundAsWindowsWouldAndTheLayerAnswersByName) {
  TempDir dir;
  std::filesystem::create_directories(dir.Path() / "highway");
  WriteMapTable(dir.Path() / "highway" / "WXXLXL.TAB", RoadTable(Roads()));
  auto map = CreateMapServices(30);
  auto table = map->OpenTableLayer(dir.Path() / "HighWay" / "wxxlxl.tab", "wxxlxl");
  EXPECT_EQ(table->FeatureCount(), 3);
  // A feature's name is its first field, here the main code.
  EXPECT_EQ(map->FeatureNamesAt("wxxlxl", 102.71, 25.04), std::vector<std::string>{"530102"});
}

TEST(OpenTableLayer, EmptyTableHasNoFeatures) {
  TempDir dir;
  WriteMapTable(dir.Path() / "wxxlxl.mif", RoadTable({}));
  auto map = CreateMapServices(30);
  EXPECT_EQ(map->OpenTableLayer(dir.Path() / "wxxlxl.mif", "wxxlxl")->FeatureCount(), 0);
}

TEST(OpenTableLayer, MissingTableNamesTheFile) {
  TempDir dir;
  auto map = CreateMapServices(30);
  try {
    map->OpenTableLayer(dir.Path() / "wxxlxl.tab", "wxxlxl");
    FAIL() << "no MapError";
  } catch (const MapError& error) {
    EXPECT_NE(std::string(error.what()).find((dir.Path() / "wxxlxl.tab").string()), std::string::npos);
  }
}

// A table that declares no charset still holds code page 936 texts in this
// service's files.
TEST(TableTexts, NeutralCharsetTableWithCodePage936TextsIsDecoded) {
  TempDir dir;
  const std::string mif = "Version 300\r\nCharset \"Neutral\"\r\nDelimiter \",\"\r\n"
                          "CoordSys Earth Projection 1, 104\r\nColumns 1\r\n  " + *Utf8ToCp936("名称") +
                          " Char(20)\r\nData\r\n\r\nPoint 103.35 23.378\r\n";
  std::ofstream(dir.Path() / "HIGHWAY.mif", std::ios::binary) << mif;
  std::ofstream(dir.Path() / "HIGHWAY.mid", std::ios::binary) << "\"" + *Utf8ToCp936("收费站") + "\"\r\n";
  auto map = CreateMapServices(30);
  auto table = map->OpenTableLayer(dir.Path() / "HIGHWAY.mif", "HIGHWAY");
  EXPECT_EQ(table->FieldText(1, "名称"), "收费站");
}

TEST(TableFormats, OtherVectorFormatsServeAsLayers) {
  TempDir dir;
  std::ofstream(dir.Path() / "HIGHWAY.geojson") << R"({"type":"FeatureCollection","features":[
    {"type":"Feature","properties":{"名称":"昆石高速"},
     "geometry":{"type":"LineString","coordinates":[[103.3,23.378],[103.4,23.378]]}}]})";
  WriteGeoset(dir.Path() / "map.gst", "map", {"HIGHWAY.geojson"});
  auto map = CreateMapServices(30);
  map->LoadGeoset(dir.Path() / "map.gst");
  EXPECT_EQ(map->FeatureNamesAt("HIGHWAY", 103.35, 23.378), std::vector<std::string>{"昆石高速"});
  EXPECT_EQ(map->IsOnHighway(23.378, 103.35), 1);
}

TEST(TableFormats, ProjectedTableIsTurnedIntoLongitudeAndLatitude) {
  TempDir dir;
  GDALAllRegister();
  OGRSpatialReference utm48;
  utm48.importFromEPSG(32648);
  const auto path = dir.Path() / "HIGHWAY.shp";
  GDALDataset* dataset = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile")->Create(
      path.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr);
  ASSERT_NE(dataset, nullptr);
  OGRLayer* layer = dataset->CreateLayer("HIGHWAY", &utm48, wkbLineString, nullptr);
  OGRFieldDefn name("name", OFTString);
  layer->CreateField(&name);
  OGRFeature feature(layer->GetLayerDefn());
  feature.SetField(0, "G80");
  OGRLineString line;  // north-south through 500000 E, 2585000 N: 105 E, about 23.37 N
  line.addPoint(500000, 2584000);
  line.addPoint(500000, 2586000);
  feature.SetGeometry(&line);
  ASSERT_EQ(layer->CreateFeature(&feature), OGRERR_NONE);
  GDALClose(dataset);

  auto map = CreateMapServices(30);
  map->OpenTableLayer(path, "HIGHWAY");
  const LonLat onRoad{105.0, 23.37};
  EXPECT_EQ(map->IsOnHighway(onRoad.latitude, onRoad.longitude), 1);
  const LonLat beside = Moved(onRoad, 90, 40);
  EXPECT_EQ(map->IsOnHighway(beside.latitude, beside.longitude), 0);
}

}  // namespace
}  // namespace cuserver
