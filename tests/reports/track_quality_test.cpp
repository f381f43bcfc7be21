#include "reports/track_quality.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fakes.hpp"

namespace cuserver {
namespace {

struct Sent {
  std::string time;
  std::string longitude;
  std::string latitude;
};

TrackQuality Measure(const std::vector<Sent>& sent, testing::ScriptedGeo& geo) {
  TrackBuffer track;
  for (const Sent& s : sent) {
    TrackPoint& fix = track.Append();
    fix.simId = "1390";
    fix.time = s.time;
    fix.longitude = s.longitude;
    fix.latitude = s.latitude;
    fix.speed = "60";
  }
  return MeasureTrackQuality(track, "20140319", geo);
}

// Each kind counted once, in a track as the day table returns it.
TEST(TrackQuality, CountsEachKindOfFaultAndFiltersNothing) {
  testing::ScriptedGeo geo;
  geo.distance = [](double lon1, double lat1, double lon2, double lat2) {
    return (std::fabs(lon2 - lon1) + std::fabs(lat2 - lat1)) * 100000.0;
  };
  const TrackQuality quality = Measure({{"2014-03-18 23:59:00", "103.30", "23.30"},  // other day
                                        {"2014-03-19 08:00:00", "103.30", "23.30"},
                                        {"2014-03-19 08:01:00", "103.31", "23.30"},  // 1 km in 60 s
                                        {"2014-03-19 08:01:00", "103.31", "23.30"},  // same time
                                        {"2014-03-19 08:02:00", "", ""},             // without position
                                        {"2014-03-19 08:03:00", "0", "0"},           // without position
                                        {"2014-03-19 08:04:00", "104.31", "23.30"},  // 100 km in 3 min: a jump
                                        {"2014-03-19 08:03:30", "104.31", "23.30"},  // backwards
                                        {"2014-03-20 00:00:10", "104.31", "23.30"}},  // other day
                                       geo);
  EXPECT_EQ(quality.fixes, 9);
  EXPECT_EQ(quality.otherDay, 2);
  EXPECT_EQ(quality.withoutPosition, 2);
  EXPECT_EQ(quality.sameTime, 1);
  EXPECT_EQ(quality.backwards, 1);
  EXPECT_EQ(quality.jumps, 1);
  EXPECT_TRUE(quality.Any());
}

TEST(TrackQuality, UsablePositionRule) {
  struct Case {
    const char* longitude;
    const char* latitude;
    bool usable;
  };
  for (const Case& c : std::vector<Case>{{"103.3", "23.3", true},
                                        {"-180", "-90", true},
                                        {"1e-3", "0", true},
                                        {"0", "0", false},
                                        {"0.0", "-0", false},
                                        {"", "23.3", false},
                                        {"103.3", "NaN", false},
                                        {"103.3x", "23.3", false},
                                        {" 103.3", "23.3", false},
                                        {"180.5", "23.3", false},
                                        {"103.3", "90.01", false}}) {
    FixValue longitude;
    FixValue latitude;
    longitude = c.longitude;
    latitude = c.latitude;
    EXPECT_EQ(IsUsablePosition(longitude, latitude), c.usable) << c.longitude << "," << c.latitude;
    EXPECT_EQ(IsUsablePosition(std::string_view(c.longitude), std::string_view(c.latitude)), c.usable);
  }
  FixValue null;
  null.SetNull();
  FixValue real;
  real.SetReal(23.3);
  EXPECT_FALSE(IsUsablePosition(null, real));
  EXPECT_TRUE(IsUsablePosition(real, real));
}

}  // namespace
}  // namespace cuserver
