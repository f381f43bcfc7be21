#include "run/loaded_track_fixes.hpp"

#include "reports/text_number.hpp"

namespace cuserver {
namespace {

// Digits with at most one decimal point and an optional leading minus, as the
// database layer writes a number; no blanks, exponent or other text.
bool IsPlainNumber(const std::string& text) {
  std::size_t i = text.starts_with('-') ? 1 : 0;
  bool digits = false;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      digits = true;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

// The day key a track time's date names: yyyy-mm-dd -> yyyymmdd.
std::string DayKeyOfTime(const std::string& time) { return time.substr(0, 4) + time.substr(5, 2) + time.substr(8, 2); }

}  // namespace

bool IsWellFormedTrackTime(const std::string& time) {
  if (time.size() != 19) return false;
  for (std::size_t i = 0; i < time.size(); ++i) {
    const char expected = i == 4 || i == 7 ? '-' : i == 10 ? ' ' : i == 13 || i == 16 ? ':' : '0';
    if (expected == '0' ? (time[i] < '0' || time[i] > '9') : time[i] != expected) return false;
  }
  return true;
}

void LoadedTrackFixes::TrackLoaded(const std::string& simId, const std::string& dayKey) {
  usable_ = false;
  for (int i = 0; i < track_.Count(); ++i) {
    const TrackPoint& fix = track_[static_cast<std::size_t>(i)];
    if (!IsWellFormedTrackTime(fix.time) || !IsPlainNumber(fix.speed)) return;
    if (i > 0 && !(track_[static_cast<std::size_t>(i - 1)].time < fix.time)) return;
  }
  simId_ = simId;
  dayKey_ = dayKey;
  usable_ = true;
}

bool LoadedTrackFixes::ForEachKnownFix(const std::string& simId, const std::string& begin, const std::string& end,
                                       const RowFunction& onRow) {
  if (!usable_ || simId != simId_ || !IsWellFormedTrackTime(begin) || !IsWellFormedTrackTime(end) ||
      DayKeyOfTime(begin) != dayKey_ || DayKeyOfTime(end) != dayKey_) {
    return false;
  }
  for (int i = 0; i < track_.Count(); ++i) {
    const TrackPoint& fix = track_[static_cast<std::size_t>(i)];
    if (!(fix.time > begin)) continue;
    if (!(fix.time < end)) break;
    const double speed = fix.Speed();
    if (speed == 0.0 || speed == 3.704) continue;
    onRow(fix.longitude, fix.latitude);
  }
  return true;
}

}  // namespace cuserver
