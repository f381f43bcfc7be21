#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "reports/text_number.hpp"

namespace cuserver {

// One GPS fix as the tracking service stored it. Every field is the column's
// text; the reports parse what they need with the leading-number conversions.
struct TrackPoint {
  std::string time;        // yyyy-mm-dd hh:mm:ss
  std::string longitude;   // degrees, decimal text
  std::string latitude;    // degrees, decimal text
  std::string simId;
  std::string speed;       // km/h, decimal text
  std::string alarmState;

  // The leading numbers of longitude, latitude and speed, as LeadingDouble and
  // LeadingInt read them from the texts. A loader that knows them from the
  // database's own values (so that nothing parses them back) sets them and
  // numbersSet; otherwise they are read from the texts when asked for.
  double longitudeNumber = 0.0;
  double latitudeNumber = 0.0;
  double speedNumber = 0.0;
  int speedInteger = 0;
  bool numbersSet = false;

  double Longitude() const { return numbersSet ? longitudeNumber : LeadingDouble(longitude); }
  double Latitude() const { return numbersSet ? latitudeNumber : LeadingDouble(latitude); }
  double Speed() const { return numbersSet ? speedNumber : LeadingDouble(speed); }
  int SpeedInteger() const { return numbersSet ? speedInteger : LeadingInt(speed); }
};

// One vehicle's day track, oldest fix first. It holds a whole day however
// long, and the slot after the last fix always has an empty SIMID: that end
// mark is where the scans stop. Slots are reused from one load to the next so
// that a day run allocates only while a vehicle outgrows every earlier one.
class TrackBuffer {
 public:
  TrackBuffer() { Clear(); }

  // Forgets the loaded fixes; slot 0 becomes the end mark.
  void Clear() {
    count_ = 0;
    EnsureSlot(0);
    slots_[0].simId.clear();
  }

  // The next slot, to be filled by the loader with all six fields. The slot
  // after it becomes the end mark.
  TrackPoint& Append() {
    EnsureSlot(count_ + 1);
    slots_[count_ + 1].simId.clear();
    slots_[count_].numbersSet = false;
    return slots_[count_++];
  }

  // Number of loaded fixes.
  int Count() const { return static_cast<int>(count_); }

  // Slots 0 to Count(); slot Count() is the end mark (empty SIMID).
  const TrackPoint& operator[](std::size_t i) const { return slots_[i]; }
  TrackPoint& operator[](std::size_t i) { return slots_[i]; }

 private:
  void EnsureSlot(std::size_t i) {
    if (slots_.size() <= i) slots_.resize(i + 1);
  }

  std::vector<TrackPoint> slots_;
  std::size_t count_ = 0;
};

}  // namespace cuserver
