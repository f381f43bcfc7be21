#include "reports/track_quality.hpp"

#include <cmath>
#include <optional>

#include "reports/time_arith.hpp"

namespace cuserver {
namespace {

constexpr double kMetresPerDegree = 111320.0;
constexpr double kJumpMetresPerSecond = kJumpKmh / 3.6;

// A step's length in metres on a sphere's local plane: within a percent of
// the ellipsoid's for short steps, and more than half of it for any step a
// day allows; enough to leave out the plainly slow steps before the exact
// distance is asked.
double RoughMetres(const TrackPoint& a, const TrackPoint& b) {
  const double pi = std::acos(-1.0);
  const double dx = (b.Longitude() - a.Longitude()) * std::cos(a.Latitude() * pi / 180.0);
  const double dy = b.Latitude() - a.Latitude();
  return std::hypot(dx, dy) * kMetresPerDegree;
}

}  // namespace

std::string TrackDateOfDay(const std::string& dayKey) {
  if (dayKey.size() != 8) return dayKey;
  return dayKey.substr(0, 4) + '-' + dayKey.substr(4, 2) + '-' + dayKey.substr(6, 2);
}

TrackQuality MeasureTrackQuality(const TrackBuffer& track, const std::string& dayKey, GeoServices& geo) {
  TrackQuality quality;
  const std::string date = TrackDateOfDay(dayKey);
  const TrackPoint* before = nullptr;  // the fix of the day before this one
  std::optional<long long> beforeClock;
  const TrackPoint* placed = nullptr;  // the last fix of the day with a usable position
  std::optional<long long> placedClock;
  for (int i = 0; i < track.Count(); ++i) {
    const TrackPoint& fix = track[static_cast<std::size_t>(i)];
    ++quality.fixes;
    const bool usable = fix.HasUsablePosition();
    if (!usable) ++quality.withoutPosition;
    if (!IsOfDate(fix, date)) {
      ++quality.otherDay;
      continue;
    }
    const std::optional<long long> clock = ParseTrackTime(fix.time);
    if (before != nullptr) {
      if (fix.time == before->time) {
        ++quality.sameTime;
      } else if (clock && beforeClock && *clock < *beforeClock) {
        ++quality.backwards;
      }
    }
    before = &fix;
    beforeClock = clock;
    if (!usable) continue;
    if (placed != nullptr && clock && placedClock && *clock > *placedClock) {
      const double limit = kJumpMetresPerSecond * static_cast<double>(*clock - *placedClock);
      if (RoughMetres(*placed, fix) > 0.5 * limit &&
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
