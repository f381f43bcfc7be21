#include "run/loaded_track_fixes.hpp"

#include <string_view>

#include "reports/moving_fix.hpp"

namespace cuserver {
namespace {

// The day key a track time's date names: yyyy-mm-dd -> yyyymmdd.
std::string DayKeyOfTime(const std::string& time) { return time.substr(0, 4) + time.substr(5, 2) + time.substr(8, 2); }

}  // namespace

bool IsWellFormedTrackTime(const std::string& time) {
  // Asked of every fix of a day: the separators, then the digits without a branch each.
  if (time.size() != 19) return false;
  const char* t = time.data();
  if (t[4] != '-' || t[7] != '-' || t[10] != ' ' || t[13] != ':' || t[16] != ':') return false;
  bool digits = true;
  for (const int i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18}) {
    digits &= static_cast<unsigned char>(t[i] - '0') <= 9;
  }
  return digits;
}

void LoadedTrackFixes::TrackLoaded(const std::string& simId, const std::string& dayKey) {
  usable_ = false;
  for (int i = 0; i < track_.Count(); ++i) {
    const TrackPoint& fix = track_[static_cast<std::size_t>(i)];
    if (!IsWellFormedTrackTime(fix.time) || !(fix.speed.IsDatabaseNumber() || fix.speed.IsNull())) return;
    if (i > 0 && !(track_[static_cast<std::size_t>(i - 1)].time < fix.time)) return;
  }
  simId_ = simId;
  dayKey_ = dayKey;
  usable_ = true;
}

bool LoadedTrackFixes::ForEachKnownFix(const std::string& simId, const std::string& begin, const std::string& end,
                                       const PositionFunction& onPosition) {
  if (!usable_ || simId != simId_ || !IsWellFormedTrackTime(begin) || !IsWellFormedTrackTime(end) ||
      DayKeyOfTime(begin) != dayKey_ || DayKeyOfTime(end) != dayKey_) {
    return false;
  }
  // The times rise strictly: the first fix after `begin` is found by halving.
  std::size_t i = 0;
  std::size_t count = static_cast<std::size_t>(track_.Count());
  while (count > 0) {
    const std::size_t half = count / 2;
    if (!(track_[i + half].time > begin)) {
      i += half + 1;
      count -= half + 1;
    } else {
      count = half;
    }
  }
  for (; i < static_cast<std::size_t>(track_.Count()); ++i) {
    const TrackPoint& fix = track_[i];
    if (!(fix.time < end)) break;
    if (!IsMovingSpeed(fix.Speed()) || !fix.HasUsablePosition()) continue;
    onPosition(fix.Longitude(), fix.Latitude());
  }
  return true;
}

}  // namespace cuserver
