#include "run/loaded_track_fixes.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/simulate/simulator.hpp"
#include "backend_database.hpp"
#include "db/adapters.hpp"
#include "db/loaders.hpp"
#include "map/distance.hpp"
#include "reports/track_distance.hpp"

namespace cuserver {
namespace {

const std::string kDay = "20140319";

class CountingReader : public FixReader {
 public:
  explicit CountingReader(FixReader& inner) : inner_(inner) {}
  void ForEachFix(const std::string& query, const RowFunction& onRow) override {
    ++queries;
    inner_.ForEachFix(query, onRow);
  }
  int queries = 0;

 private:
  FixReader& inner_;
};

class WgsDistance : public GeoServices {
 public:
  int IsOnHighway(double, double) override { return 0; }
  std::string AreaNameAt(double, double) override { return "区域外面"; }
  double DistanceMetres(double lon1, double lat1, double lon2, double lat2) override {
    return WgsDistanceMetres(lon1, lat1, lon2, lat2);
  }
};

class LoadedTrackFixesTest : public ::testing::TestWithParam<std::string> {
 protected:
  LoadedTrackFixesTest() : database_(GetParam()) {
    sim::SimulationOptions options;
    options.vehicles = 30;  // stops, gaps, silent ones, and odd fixes without speed or longitude
    options.intervalSeconds = 60;
    options.dayKey = kDay;
    options.seed = 3;
    options.highwaySegments = 40;
    options.areas = 2;
    sim::Simulate(database_.Db(), database_.Folder() / "HighWay", options);
    // Every vehicle reporting at noon sends a few fixes without speed.
    database_.Db().ExecuteStatement(
        "update GPSDATA20140319 set speed = NULL where time > '2014-03-19 12:00:00' and time < '2014-03-19 12:03:00'");
  }

  BackendDatabase database_;
  WgsDistance geo_;
};

// Every interval a speeding episode could have (fix to fix, also crossing
// stops and gaps, empty ones, ones ending on the day's last fix) measures
// exactly, to the last bit, what the query per episode measured.
TEST_P(LoadedTrackFixesTest, DistancesFromTheLoadedTrackEqualThoseOfTheQueries) {
  DbFixReader database(database_.Db());
  CountingReader counting(database);
  TrackBuffer track;
  LoadedTrackFixes known(counting, track);
  int vehiclesServedFromTrack = 0;
  int vehiclesWithNullSpeeds = 0;
  for (int v = 0; v < 30; ++v) {
    const std::string simId = sim::SimulatedSimId(v);
    const int n = LoadDayTrack(database_.Db(), simId, kDay, track);
    known.TrackLoaded(simId, kDay);
    const int queriesBefore = counting.queries;
    int intervals = 0;
    for (int i = 0; i < n; i += 11) {
      for (int k : {0, 1, 3, 40, 400}) {
        const std::string& begin = track[static_cast<std::size_t>(i)].time;
        const std::string& end = track[static_cast<std::size_t>(std::min(i + k, n - 1))].time;
        EXPECT_EQ(TrackDistance(known, geo_, simId, begin, end), TrackDistance(database, geo_, simId, begin, end))
            << simId << " " << begin << " " << end;
        ++intervals;
      }
    }
    if (n > 0 && counting.queries == queriesBefore) ++vehiclesServedFromTrack;
    bool nullSpeed = false;
    for (int i = 0; i < n; ++i) nullSpeed = nullSpeed || track[static_cast<std::size_t>(i)].speed.IsNull();
    if (nullSpeed) {
      ++vehiclesWithNullSpeeds;
      EXPECT_EQ(counting.queries, queriesBefore) << simId << ": a NULL speed is left out in memory as by the query";
    }
  }
  EXPECT_GE(vehiclesServedFromTrack, 25);
  EXPECT_GT(vehiclesWithNullSpeeds, 0);
}

// A NULL speed is left out by the database's comparison as in memory; a
// speed stored as text (an empty one here) compares with 0 there as a text
// does, so such a track is left to the database.
TEST(LoadedTrackFixesSpeeds, ATrackWithATextSpeedIsLeftToTheDatabase) {
  struct NoDatabase : FixReader {
    void ForEachFix(const std::string&, const RowFunction&) override {}
    bool ForEachKnownFix(const std::string&, const std::string&, const std::string&,
                         const PositionFunction&) override {
      return false;
    }
  } database;
  TrackBuffer track;
  for (const char* time : {"2014-03-19 08:00:00", "2014-03-19 08:00:30", "2014-03-19 08:01:00"}) {
    TrackPoint& fix = track.Append();
    fix.simId = "1";
    fix.time = time;
    fix.speed.SetReal(50);
  }
  LoadedTrackFixes known(database, track);
  const auto served = [&] {
    known.TrackLoaded("1", kDay);
    return known.ForEachKnownFix("1", "2014-03-19 07:00:00", "2014-03-19 09:00:00", [](double, double) {});
  };
  EXPECT_TRUE(served());
  track[1].speed.SetNull();
  EXPECT_TRUE(served());
  track[1].speed.SetText("");
  EXPECT_FALSE(served());
}

TEST_P(LoadedTrackFixesTest, AnotherVehicleOrDayOrAnIntervalAcrossMidnightGoesToTheDatabase) {
  TrackBuffer track;
  DbFixReader database(database_.Db());
  LoadedTrackFixes known(database, track);
  LoadDayTrack(database_.Db(), sim::SimulatedSimId(0), kDay, track);
  known.TrackLoaded(sim::SimulatedSimId(0), kDay);
  const auto never = [](double, double) {};
  EXPECT_TRUE(known.ForEachKnownFix(sim::SimulatedSimId(0), "2014-03-19 08:00:00", "2014-03-19 09:00:00", never));
  EXPECT_FALSE(known.ForEachKnownFix(sim::SimulatedSimId(1), "2014-03-19 08:00:00", "2014-03-19 09:00:00", never));
  EXPECT_FALSE(known.ForEachKnownFix(sim::SimulatedSimId(0), "2014-03-18 08:00:00", "2014-03-18 09:00:00", never));
  EXPECT_FALSE(known.ForEachKnownFix(sim::SimulatedSimId(0), "2014-03-19 23:00:00", "2014-03-20 01:00:00", never));
  EXPECT_FALSE(known.ForEachKnownFix(sim::SimulatedSimId(0), "2014-03-19 8:00:00", "2014-03-19 09:00:00", never));
  known.Forget();
  EXPECT_FALSE(known.ForEachKnownFix(sim::SimulatedSimId(0), "2014-03-19 08:00:00", "2014-03-19 09:00:00", never));
}

TEST(LoadedTrackFixesTimes, OnlyTheStoredFormWithDigitsIsWellFormed) {
  EXPECT_TRUE(IsWellFormedTrackTime("2014-03-19 08:00:00"));
  for (const char* bad : {"2014-03-19 8:00:00", "2014-03-19T08:00:00", "2014-03-19 08:00:0x", "", "2014-03-19"}) {
    EXPECT_FALSE(IsWellFormedTrackTime(bad)) << bad;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, LoadedTrackFixesTest, ::testing::ValuesIn(SqlBackends()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace cuserver
