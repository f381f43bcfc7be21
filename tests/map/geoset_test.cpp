#include <gtest/gtest.h>

#include <fstream>

#include "map/geoset.hpp"
#include "map/map_services.hpp"
#include "map/map_writer.hpp"
#include "map/text_codec.hpp"
#include "map/windows_path.hpp"
#include "support/map_fixture.hpp"

namespace cuserver {
namespace {

using Files = std::vector<std::string>;

std::string Geoset(const std::string& metadata) {
  return "!GEOSET\r\n!VERSION 450\r\n\r\nbegin_metadata\r\n" + metadata + "end_metadata\r\n";
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const MapError& error) {
    return error.what();
  }
  return "no MapError";
}

TEST(GeosetText, ListsTablesInTheOrderOfTheirNumbers) {
  const auto text = Geoset(
      "\"\\GEOSET\\NAME\" = \"x\"\r\n"
      "\"\\TABLE\\10\\FILE\" = \"ten.tab\"\r\n"
      "\"\\TABLE\\2\\FILE\" = \"two.tab\"\r\n"
      "\"\\TABLE\\2\\ISVISIBLE\" = \"TRUE\"\r\n"
      "\"\\TABLE\\1\\FILE\" = \"sub\\one.TAB\"\r\n"
      "\"\\TABLE\\1\\DESCRIPTION\" = \"the \"first\" one\"\r\n");
  EXPECT_EQ(ParseGeoset(text, "g"), (Files{"sub\\one.TAB", "two.tab", "ten.tab"}));
}

TEST(GeosetText, KeysMatchWithoutRegardToCaseAndLfLineEndsAreRead) {
  const std::string text = "!geoset\n!version 450\nBEGIN_METADATA\n\"\\table\\1\\file\" = \"a.tab\"\nEnd_Metadata\n";
  EXPECT_EQ(ParseGeoset(text, "g"), Files{"a.tab"});
}

TEST(GeosetText, CodePage936TextsArriveAsUtf8) {
  const auto text = Utf8ToCp936(Geoset("\"\\TABLE\\1\\FILE\" = \"高速\\道路.tab\"\r\n"));
  ASSERT_TRUE(text);
  EXPECT_EQ(ParseGeoset(*text, "g"), Files{"高速\\道路.tab"});
}

TEST(GeosetText, FaultsNameTheGeosetAndLine) {
  EXPECT_EQ(MessageOf([] { ParseGeoset("!table\r\n!version 300\r\n", "HIGHWAY.gst"); }),
            "geoset HIGHWAY.gst line 1: not a geoset: the first line must be !GEOSET");
  EXPECT_EQ(MessageOf([] { ParseGeoset("", "g"); }), "geoset g: empty file, not a geoset");
  EXPECT_EQ(MessageOf([] { ParseGeoset("!GEOSET\r\nbegin_metadata\r\n\"\\TABLE\\1\\FILE\" = \"a.tab\"\r\n", "g"); }),
            "geoset g: missing end_metadata (the file is cut short)");
  EXPECT_EQ(MessageOf([] { ParseGeoset(Geoset("\"\\GEOSET\\NAME\" = \"x\"\r\n"), "g"); }),
            "geoset g: the geoset lists no table");
  EXPECT_EQ(MessageOf([] { ParseGeoset(Geoset("\"\\TABLE\\1\\FILE\" \"a.tab\"\r\n"), "g"); }),
            "geoset g line 5: expected \"key\" = \"value\"");
  EXPECT_EQ(MessageOf([] { ParseGeoset(Geoset("\"\\TABLE\\1\\FILE\" = \"\"\r\n"), "g"); }),
            "geoset g line 5: table 1 has an empty file name");
}

TEST(WindowsPaths, FindFilesWithBackslashesAndOtherCase) {
  TempDir dir;
  WriteFile(dir.Path() / "Maps" / "HIGHWAY.TAB", "x");
  EXPECT_EQ(FindLikeWindows(dir.Path(), "maps\\highway.tab"), dir.Path() / "Maps" / "HIGHWAY.TAB");
  EXPECT_EQ(FindLikeWindows(dir.Path(), "MAPS/Highway.Tab"), dir.Path() / "Maps" / "HIGHWAY.TAB");
  EXPECT_EQ(FindLikeWindows(dir.Path(), ".\\Maps\\..\\Maps\\HIGHWAY.TAB"),
            dir.Path() / "." / "Maps" / ".." / "Maps" / "HIGHWAY.TAB");
  EXPECT_FALSE(FindLikeWindows(dir.Path(), "maps\\highway.dat"));
  EXPECT_FALSE(FindLikeWindows(dir.Path(), ""));
}

TEST(WindowsPaths, PreferAnExactMatch) {
  TempDir dir;
  WriteFile(dir.Path() / "A.tab", "x");
  WriteFile(dir.Path() / "a.tab", "x");
  EXPECT_EQ(FindLikeWindows(dir.Path(), "a.tab"), dir.Path() / "a.tab");
  EXPECT_EQ(FindLikeWindows(dir.Path(), "A.TAB"), dir.Path() / "A.tab");
}

TEST(LoadGeoset, TablesInOtherFoldersAndCaseAreLoadedAndNamedByFile) {
  TempDir dir;
  const auto maps = dir.Path() / "highway";
  std::filesystem::create_directories(maps / "Layers");
  TestMap::WriteHighways(maps / "Layers" / "HIGHWAY.TAB");
  TestMap::WriteAreas(maps / "Layers" / "UserSpeed.mif");
  WriteGeoset(maps / "highway.GST", "高速公路", {"layers\\highway.tab", "LAYERS\\userspeed.MIF"});
  auto map = CreateMapServices(30);
  map->LoadGeoset(dir.Path() / "HighWay" / "HIGHWAY.gst");  // as the service names it
  const LonLat c = TestMap::kCentre;
  EXPECT_EQ(map->IsOnHighway(c.latitude, c.longitude), 1);
  EXPECT_EQ(map->AreaNameAt(c.latitude + 0.005, c.longitude + 0.005), "城区开发区");
}

TEST(LoadGeoset, MissingGeosetNamesTheFile) {
  TempDir dir;
  auto map = CreateMapServices(30);
  const auto missing = dir.Path() / "HighWay" / "HIGHWAY.gst";
  EXPECT_EQ(MessageOf([&] { map->LoadGeoset(missing); }),
            "cannot read geoset " + missing.string() + ": no such file");
}

TEST(LoadGeoset, MissingTableNamesTheTableAndTheGeoset) {
  TempDir dir;
  TestMap::WriteHighways(dir.Path() / "HIGHWAY.TAB");
  WriteGeoset(dir.Path() / "map.gst", "map", {"HIGHWAY.TAB", "userspeed.tab"});
  auto map = CreateMapServices(30);
  EXPECT_EQ(MessageOf([&] { map->LoadGeoset(dir.Path() / "map.gst"); }),
            "cannot read map table " + (dir.Path() / "userspeed.tab").string() + " listed in geoset " +
                (dir.Path() / "map.gst").string() + ": no such file");
}

TEST(LoadGeoset, BrokenTableNamesTheFileAndGdalsReason) {
  TempDir dir;
  TestMap::WriteHighways(dir.Path() / "HIGHWAY.TAB");
  WriteFile(dir.Path() / "userspeed.TAB", "!table\r\n!version 300\r\nDefinition Table\r\n  Fields 1\r\n");
  WriteGeoset(dir.Path() / "map.gst", "map", {"HIGHWAY.TAB", "userspeed.TAB"});
  auto map = CreateMapServices(30);
  const std::string message = MessageOf([&] { map->LoadGeoset(dir.Path() / "map.gst"); });
  const std::string prefix = "cannot read map table " + (dir.Path() / "userspeed.TAB").string() + ": ";
  EXPECT_EQ(message.substr(0, prefix.size()), prefix) << message;
  EXPECT_GT(message.size(), prefix.size() + 5) << message;
}

TEST(LoadGeoset, TableWithoutItsDataFileNamesTheMissingFile) {
  TempDir dir;
  TestMap::WriteHighways(dir.Path() / "HIGHWAY.TAB");
  std::filesystem::remove(dir.Path() / "HIGHWAY.DAT");
  WriteGeoset(dir.Path() / "map.gst", "map", {"HIGHWAY.TAB"});
  auto map = CreateMapServices(30);
  EXPECT_EQ(MessageOf([&] { map->LoadGeoset(dir.Path() / "map.gst"); }),
            "cannot read map table " + (dir.Path() / "HIGHWAY.TAB").string() +
                ": its companion file HIGHWAY.dat is missing");
}

TEST(LoadGeoset, TableCutShortIsAFailure) {
  TempDir dir;
  TestMap::WriteHighways(dir.Path() / "HIGHWAY.TAB");
  std::filesystem::resize_file(dir.Path() / "HIGHWAY.MAP", 600);
  WriteGeoset(dir.Path() / "map.gst", "map", {"HIGHWAY.TAB"});
  auto map = CreateMapServices(30);
  const std::string message = MessageOf([&] { map->LoadGeoset(dir.Path() / "map.gst"); });
  EXPECT_NE(message.find((dir.Path() / "HIGHWAY.TAB").string()), std::string::npos) << message;
}

TEST(LoadGeoset, AFailedLoadKeepsTheLayersLoadedBefore) {
  TempDir dir;
  const auto good = TestMap::Write(dir.Path());
  WriteFile(dir.Path() / "bad.gst", "not a geoset");
  auto map = CreateMapServices(30);
  map->LoadGeoset(good);
  EXPECT_THROW(map->LoadGeoset(dir.Path() / "bad.gst"), MapError);
  EXPECT_EQ(map->IsOnHighway(TestMap::kCentre.latitude, TestMap::kCentre.longitude), 1);
}

// A zeroed .ID entry: that row has no object in the .MAP.
TEST(LoadGeoset, FeaturesWithoutGeometryAreCountedAndNamedAndTheRestAnswer) {
  TempDir dir;
  const auto geoset = TestMap::Write(dir.Path());
  const auto id = geoset.parent_path() / "HIGHWAY.ID";
  std::fstream(id, std::ios::binary | std::ios::in | std::ios::out).seekp(4).write("\0\0\0\0", 4);
  std::vector<std::string> notes;
  auto map = CreateMapServices(30, [&notes](const std::string& line) { notes.push_back(line); });
  map->LoadGeoset(geoset);
  EXPECT_EQ(notes, std::vector<std::string>{"map table " + (geoset.parent_path() / "HIGHWAY.TAB").string() +
                                            ": 1 of 4 features have no usable geometry and are never found: "
                                            "#2 汕昆高速"});
  const LonLat c = TestMap::kCentre;
  const LonLat north = Moved(c, 0, 800);
  EXPECT_EQ(map->IsOnHighway(north.latitude, north.longitude), 0);
  EXPECT_EQ(map->FeatureNamesAt("HIGHWAY", c.longitude, c.latitude), std::vector<std::string>{"广昆高速"});
}

}  // namespace
}  // namespace cuserver
