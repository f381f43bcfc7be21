#pragma once

#include <cstring>
#include <string>

#include "reports/ports.hpp"
#include "reports/track.hpp"

namespace cuserver {

// What a vehicle's tracker sent on one day that the reports cannot take at
// face value. Counted, never filtered, apart from the fixes of other days.
struct TrackQuality {
  int fixes = 0;            // rows read from the day table
  int withoutPosition = 0;  // fixes without a usable position (IsUsablePosition)
  int otherDay = 0;         // fixes whose time is not of the table's day
  int sameTime = 0;         // fixes of the day with the same time as the fix before
  int backwards = 0;        // fixes of the day whose clock reads earlier than the fix before
  int jumps = 0;            // steps between consecutive usable positions of the day faster than kJumpKmh

  // Not kept, but read off the same pass: whether every fix of the day has a
  // time of the form yyyy-mm-dd hh:mm:ss later than the one before and a
  // speed the database returned as a number or NULL.
  bool timesRiseWithNumericSpeeds = true;

  bool Any() const { return withoutPosition + otherDay + sameTime + backwards + jumps > 0; }
  // Adds another track's counts (several vehicles', or several days').
  void Add(const TrackQuality& other) {
    fixes += other.fixes;
    withoutPosition += other.withoutPosition;
    otherDay += other.otherDay;
    sameTime += other.sameTime;
    backwards += other.backwards;
    jumps += other.jumps;
  }
};

// A step between two positions faster than this is no vehicle's.
inline constexpr double kJumpKmh = 300.0;

// "yyyy-mm-dd" of a DayKey "yyyymmdd".
std::string TrackDateOfDay(const std::string& dayKey);

// Whether a fix belongs to the day whose date is `date` ("yyyy-mm-dd"): its
// time begins with that date. Asked of every fix.
inline bool IsOfDate(const TrackPoint& fix, const std::string& date) {
  constexpr std::size_t kDate = 10;
  if (date.size() != kDate) return fix.time.starts_with(date);
  return fix.time.size() >= kDate && std::memcmp(fix.time.data(), date.data(), kDate) == 0;
}

// Counts the loaded track of one vehicle's day (before other days' fixes are
// dropped). Times are compared in the order the track was read. One pass,
// asked of every vehicle: the day run's other checks of every fix ride on it.
TrackQuality MeasureTrackQuality(const TrackBuffer& track, const std::string& dayKey, GeoServices& geo);

}  // namespace cuserver
