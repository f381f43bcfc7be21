#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "map/map_services.hpp"
#include "map/map_writer.hpp"
#include "support/map_fixture.hpp"

namespace cuserver {
namespace {

class HighwayTest : public ::testing::Test {
 protected:
  void SetUp() override { map->LoadGeoset(TestMap::Write(dir.Path())); }

  int OnHighway(LonLat p) { return map->IsOnHighway(p.latitude, p.longitude); }
  std::vector<std::string> Names(LonLat p) { return map->FeatureNamesAt("HIGHWAY", p.longitude, p.latitude); }

  TempDir dir;
  std::unique_ptr<MapServices> map = CreateMapServices(30);
  const LonLat centre = TestMap::kCentre;
  const LonLat onFirst = Moved(TestMap::kCentre, 90, 500);  // on 广昆高速 only
};

TEST_F(HighwayTest, PositionOnAHighwayIsOnIt) {
  EXPECT_EQ(OnHighway(onFirst), 1);
  EXPECT_EQ(Names(onFirst), std::vector<std::string>{"广昆高速"});
}

TEST_F(HighwayTest, PositionBesideAHighwayCountsWithinTheTolerance) {
  EXPECT_EQ(OnHighway(Moved(onFirst, 0, 20)), 1);
  EXPECT_EQ(OnHighway(Moved(onFirst, 180, 29.5)), 1);
  EXPECT_EQ(OnHighway(Moved(onFirst, 0, 30.5)), 0);
  EXPECT_EQ(OnHighway(Moved(onFirst, 180, 45)), 0);
  EXPECT_TRUE(Names(Moved(onFirst, 0, 45)).empty());
}

TEST_F(HighwayTest, ToleranceCountsBeyondALinesEnd) {
  const LonLat end = Moved(centre, 90, 1000);
  EXPECT_EQ(OnHighway(Moved(end, 90, 25)), 1);
  EXPECT_EQ(OnHighway(Moved(end, 90, 35)), 0);
}

TEST_F(HighwayTest, WhereTwoHighwaysCrossBothAreFoundInTableOrder) {
  EXPECT_EQ(OnHighway(centre), 1);
  EXPECT_EQ(Names(centre), (std::vector<std::string>{"广昆高速", "汕昆高速"}));
  EXPECT_EQ(Names(Moved(centre, 45, 10)), (std::vector<std::string>{"广昆高速", "汕昆高速"}));
}

TEST_F(HighwayTest, HighwayWithAnEmptyNameDoesNotCount) {
  const LonLat onUnnamed = Moved(centre, 0, 5000);
  EXPECT_EQ(Names(onUnnamed), std::vector<std::string>{""});
  EXPECT_EQ(OnHighway(onUnnamed), 0);
}

TEST_F(HighwayTest, PointFeatureIsFoundWithinTheTolerance) {
  const LonLat station = Moved(centre, 90, 3000);
  EXPECT_EQ(Names(Moved(station, 200, 25)), std::vector<std::string>{"收费站"});
  EXPECT_EQ(OnHighway(Moved(station, 200, 35)), 0);
}

TEST_F(HighwayTest, FarFromEveryHighwayNothingIsFound) {
  EXPECT_EQ(OnHighway({100.0, 30.0}), 0);
  EXPECT_TRUE(Names({100.0, 30.0}).empty());
}

TEST_F(HighwayTest, PositionThatIsNotANumberIsNotOnAHighway) {
  EXPECT_EQ(map->IsOnHighway(std::nan(""), centre.longitude), 0);
  EXPECT_EQ(map->IsOnHighway(centre.latitude, std::numeric_limits<double>::infinity()), 0);
}

TEST_F(HighwayTest, AskingFromSeveralThreadsAtOnceGivesTheSameAnswers) {
  std::vector<int> answers(4, -1);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < answers.size(); ++t) {
    threads.emplace_back([&, t] {
      int sum = 0;
      for (int i = 0; i < 1800; ++i) {
        const int metres = i % 60 < 30 ? i % 60 : i % 60 + 10;  // half on, half 40 m or more off
        sum += OnHighway(Moved(onFirst, 0, metres));
      }
      answers[t] = sum;
    });
  }
  for (auto& thread : threads) thread.join();
  for (int answer : answers) EXPECT_EQ(answer, 900);
}

TEST(HighwayTolerance, IsMeasuredOnTheGroundNotInDegrees) {
  // At 60 degrees north a degree of longitude is half as long as at the
  // equator, so 25 m east of a north-south road is twice as many degrees.
  TempDir dir;
  const LonLat north{25.0, 60.0};
  MapTable highways;
  highways.fields = {"名称"};
  highways.features = {{MapShape::Line, {Moved(north, 180, 1000), Moved(north, 0, 1000)}, {"E75"}}};
  WriteMapTable(dir.Path() / "HIGHWAY.TAB", highways);
  WriteGeoset(dir.Path() / "north.gst", "north", {"HIGHWAY.TAB"});
  auto map = CreateMapServices(30);
  map->LoadGeoset(dir.Path() / "north.gst");
  for (double azimuth : {0.0, 90.0, 270.0}) {
    const LonLat near = Moved(azimuth == 0 ? Moved(north, 0, 1000) : north, azimuth, 25);
    const LonLat far = Moved(azimuth == 0 ? Moved(north, 0, 1000) : north, azimuth, 35);
    EXPECT_EQ(map->IsOnHighway(near.latitude, near.longitude), 1) << azimuth;
    EXPECT_EQ(map->IsOnHighway(far.latitude, far.longitude), 0) << azimuth;
  }
}

TEST(HighwayTolerance, FollowsTheSetting) {
  TempDir dir;
  const auto geoset = TestMap::Write(dir.Path());
  const LonLat beside = Moved(Moved(TestMap::kCentre, 90, 500), 0, 50);
  auto strict = CreateMapServices(10);
  auto loose = CreateMapServices(60);
  strict->LoadGeoset(geoset);
  loose->LoadGeoset(geoset);
  EXPECT_EQ(strict->IsOnHighway(beside.latitude, beside.longitude), 0);
  EXPECT_EQ(loose->IsOnHighway(beside.latitude, beside.longitude), 1);
}

TEST(HighwayLayerMissing, EveryPositionIsOffTheHighwayWithoutFailure) {
  TempDir dir;
  TestMap::WriteAreas(dir.Path() / "userspeed.MIF");
  WriteGeoset(dir.Path() / "areas.gst", "areas", {"userspeed.MIF"});
  auto map = CreateMapServices(30);
  map->LoadGeoset(dir.Path() / "areas.gst");
  EXPECT_EQ(map->IsOnHighway(TestMap::kCentre.latitude, TestMap::kCentre.longitude), 0);
  EXPECT_THROW(map->FeatureNamesAt("HIGHWAY", TestMap::kCentre.longitude, TestMap::kCentre.latitude), MapError);
}

TEST(HighwayLayerMissing, NothingLoadedYetIsOffTheHighway) {
  auto map = CreateMapServices(30);
  EXPECT_EQ(map->IsOnHighway(23.378333, 103.3496), 0);
  EXPECT_EQ(map->AreaNameAt(23.378333, 103.3496), "区域外面");
}

}  // namespace
}  // namespace cuserver
