#include <gtest/gtest.h>

#include "map/map_services.hpp"
#include "map/map_writer.hpp"
#include "support/map_fixture.hpp"

namespace cuserver {
namespace {

class AreaTest : public ::testing::Test {
 protected:
  void SetUp() override { map->LoadGeoset(TestMap::Write(dir.Path())); }

  // A position set off from the centre by degrees east and north.
  std::string AreaAt(double east, double north) {
    return map->AreaNameAt(TestMap::kCentre.latitude + north, TestMap::kCentre.longitude + east);
  }

  TempDir dir;
  std::unique_ptr<MapServices> map = CreateMapServices(30);
};

TEST_F(AreaTest, InsideOneAreaGivesItsName) { EXPECT_EQ(AreaAt(-0.01, -0.01), "开发区"); }

TEST_F(AreaTest, InsideTwoOverlappingAreasGivesTheirNamesJoinedInTableOrder) {
  EXPECT_EQ(AreaAt(0.005, 0.005), "城区开发区");
  EXPECT_EQ(map->FeatureNamesAt("userspeed", TestMap::kCentre.longitude + 0.005, TestMap::kCentre.latitude + 0.005),
            (std::vector<std::string>{"城区", "开发区"}));
}

TEST_F(AreaTest, OutsideEveryAreaGivesOutside) {
  EXPECT_EQ(AreaAt(0.03, 0), "区域外面");
  EXPECT_EQ(AreaAt(0, -0.0201), "区域外面");
}

TEST_F(AreaTest, PositionOnAnAreasEdgeIsInside) {
  EXPECT_EQ(AreaAt(-0.005, -0.02), "开发区");  // on the south edge
  EXPECT_EQ(AreaAt(0.02, 0.015), "开发区");    // on the east edge
  EXPECT_EQ(AreaAt(0.02, 0.02), "开发区");     // on a corner
  EXPECT_EQ(AreaAt(0.0, 0.005), "城区开发区");  // on the inner area's west edge
}

TEST_F(AreaTest, NoToleranceAppliesToAreas) {
  // 0.00001 degrees (about a metre) outside the outer area is outside.
  EXPECT_EQ(AreaAt(0.02001, 0.0), "区域外面");
}

TEST_F(AreaTest, InsideAnAreaWithAnEmptyNameGivesOutside) {
  EXPECT_EQ(AreaAt(0.005, 0.055), "区域外面");
  EXPECT_EQ(map->FeatureNamesAt("USERSPEED", TestMap::kCentre.longitude + 0.005, TestMap::kCentre.latitude + 0.055),
            std::vector<std::string>{""});
}

TEST(AreaLayerMissing, EveryPositionIsOutside) {
  TempDir dir;
  TestMap::WriteHighways(dir.Path() / "HIGHWAY.TAB");
  WriteGeoset(dir.Path() / "roads.gst", "roads", {"HIGHWAY.TAB"});
  auto map = CreateMapServices(30);
  map->LoadGeoset(dir.Path() / "roads.gst");
  EXPECT_EQ(map->AreaNameAt(TestMap::kCentre.latitude + 0.005, TestMap::kCentre.longitude + 0.005), "区域外面");
  EXPECT_EQ(map->IsOnHighway(TestMap::kCentre.latitude, TestMap::kCentre.longitude), 1);
}

TEST(AreaTable, AreasInATabTableAreFoundLikeInAMifTable) {
  TempDir dir;
  TestMap::WriteAreas(dir.Path() / "USERSPEED.TAB");
  WriteGeoset(dir.Path() / "areas.gst", "areas", {"USERSPEED.TAB"});
  auto map = CreateMapServices(30);
  map->LoadGeoset(dir.Path() / "areas.gst");
  EXPECT_EQ(map->AreaNameAt(TestMap::kCentre.latitude + 0.005, TestMap::kCentre.longitude + 0.005), "城区开发区");
  EXPECT_EQ(map->AreaNameAt(TestMap::kCentre.latitude - 0.01, TestMap::kCentre.longitude), "开发区");
}

}  // namespace
}  // namespace cuserver
