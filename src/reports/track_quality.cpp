#include "reports/track_quality.hpp"

#include <cmath>
#include <cstring>

#include "reports/time_arith.hpp"

namespace cuserver {
namespace {

constexpr double kJumpMetresPerSecond = kJumpKmh / 3.6;
// No degree of latitude or longitude is longer than this on the ellipsoid.
constexpr double kLongestDegreeMetres = 111700.0;

// More than the distance between two positions: a path along the meridian and
// then along the parallel is no shorter than the geodesic, and neither leg is
// longer than its degrees at the longest degree. Steps whose bound is within
// the limit are left out before the exact distance is asked.
double MetresAtMost(const TrackPoint& a, const TrackPoint& b) {
  return (std::fabs(b.Latitude() - a.Latitude()) + std::fabs(b.Longitude() - a.Longitude())) * kLongestDegreeMetres;
}

// a == b, for the common 19 characters without a call.
bool SameTime(const std::string& a, const std::string& b) {
  constexpr std::size_t kTime = 19;
  if (a.size() == kTime && b.size() == kTime) return std::memcmp(a.data(), b.data(), kTime) == 0;
  return a == b;
}

}  // namespace

std::string TrackDateOfDay(const std::string& dayKey) {
  if (dayKey.size() != 8) return dayKey;
  return dayKey.substr(0, 4) + '-' + dayKey.substr(4, 2) + '-' + dayKey.substr(6, 2);
}

TrackQuality MeasureTrackQuality(const TrackBuffer& track, const std::string& dayKey, GeoServices& geo) {
  TrackQuality quality;
  const std::string date = TrackDateOfDay(dayKey);
  // Times of the day are compared by their clock within the month: the
  // fixes compared all carry the day's date.
  const TrackPoint* before = nullptr;  // the fix of the day before this one
  int beforeClock = -1;
  const TrackPoint* placed = nullptr;  // the last fix of the day with a usable position
  int placedClock = -1;
  for (int i = 0; i < track.Count(); ++i) {
    const TrackPoint& fix = track[static_cast<std::size_t>(i)];
    ++quality.fixes;
    const bool usable = fix.HasUsablePosition();
    if (!usable) ++quality.withoutPosition;
    if (!IsOfDate(fix, date)) {
      ++quality.otherDay;
      continue;
    }
    const int clock = MonthClockSeconds(fix.time);
    // The date is the day's; the clock's digits are checked with it.
    const bool wellFormed = clock >= 0 && fix.time[10] == ' ' && fix.time[13] == ':' && fix.time[16] == ':';
    quality.timesRiseWithNumericSpeeds &= wellFormed && (fix.speed.IsDatabaseNumber() || fix.speed.IsNull());
    if (before != nullptr) {
      if (SameTime(fix.time, before->time)) {
        ++quality.sameTime;
        quality.timesRiseWithNumericSpeeds = false;
      } else if (clock >= 0 && beforeClock >= 0 && clock < beforeClock) {
        ++quality.backwards;
        quality.timesRiseWithNumericSpeeds = false;
      }
    }
    before = &fix;
    beforeClock = clock;
    if (!usable) continue;
    if (placed != nullptr && clock >= 0 && placedClock >= 0 && clock > placedClock) {
      const double limit = kJumpMetresPerSecond * (clock - placedClock);
      if (MetresAtMost(*placed, fix) > limit &&
          geo.DistanceMetres(placed->Longitude(), placed->Latitude(), fix.Longitude(), fix.Latitude()) > limit) {
        ++quality.jumps;
      }
    }
    placed = &fix;
    placedClock = clock;
  }
  return quality;
}

}  // namespace cuserver
