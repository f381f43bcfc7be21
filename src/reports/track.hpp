#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "reports/text_number.hpp"

namespace cuserver {

// A numeric column of a fix (longitude, latitude, speed). The reports read its
// leading number (LeadingDouble of its text) and, where they write the value
// or check its form, its text: the column's text as stored, or for a number
// the database returned as a number, its shortest decimal text. That text is
// made only when first asked for, so the many fixes that are only computed
// with never have one.
class FixValue {
 public:
  // A text assigned, as a text column or a text handmade for a test holds it.
  FixValue& operator=(std::string_view text) {
    SetText(text);
    return *this;
  }

  // The column's own text; the number is its leading number.
  void SetText(std::string_view text);
  // The column's text with its leading number already known.
  void SetText(std::string_view text, double number);
  // A number the database holds as a real or an integer.
  void SetReal(double value) {
    if (!NumberReadsBackAsItself(value)) {
      SetRealText(value);
      return;
    }
    textMade_ = false;
    kind_ = Kind::Real;
    number_ = value;
  }
  void SetInteger(long long value);
  // NULL: the empty text, number 0, but told apart from a stored empty text
  // (a query's comparison leaves a NULL out; it takes a text in).
  void SetNull() {
    text_.clear();
    textMade_ = true;
    kind_ = Kind::Null;
    number_ = 0.0;
  }
  bool IsNull() const { return kind_ == Kind::Null; }
  // The database returned a number (not a text, not NULL).
  bool IsDatabaseNumber() const { return kind_ == Kind::Real || kind_ == Kind::Integer; }
  // A number whatever the column's type: a database number, or a text that is
  // one whole number (IsNumberText).
  bool IsNumeric() const {
    return IsDatabaseNumber() ? std::isfinite(number_) : kind_ == Kind::Text && IsNumberText(text_);
  }

  double Number() const { return number_; }
  // LeadingInt of the text.
  int IntegerPart() const;
  // The text is digits with at most one decimal point and an optional leading
  // minus (IsPlainDecimal). Asked of every fix's speed.
  bool IsPlainDecimal() const {
    if (kind_ == Kind::Integer || (kind_ == Kind::Real && PlainWithIntPart(number_))) return true;
    return cuserver::IsPlainDecimal(Text());
  }
  const std::string& Text() const {
    if (!textMade_) MakeText();
    return text_;
  }

 private:
  enum class Kind : unsigned char { Text, Real, Integer, Null };
  // Reals whose shortest text is plain decimal (no exponent) with an integer
  // part that fits an int: their leading integer is the value truncated.
  static bool PlainWithIntPart(double value) {
    const double size = std::fabs(value);
    return value == 0.0 || (size >= 1e-3 && size < 1e9);
  }
  void MakeText() const;
  // A real whose text may read as another number: held as that text.
  void SetRealText(double value);

  mutable std::string text_;
  mutable bool textMade_ = true;
  Kind kind_ = Kind::Text;
  double number_ = 0.0;
  long long integer_ = 0;  // the value of Kind::Integer
};

// A position a distance may be measured from: both coordinates present and
// numeric, the latitude within -90..90 and the longitude within -180..180
// degrees, and not 0,0 (what trackers send while they have no satellites).
// Distances run from one usable position to the next; a fix without one is
// still a fix for everything else (its time, speed and count).
bool IsUsablePosition(const FixValue& longitude, const FixValue& latitude);
// The same rule for the texts a query returns (NULL reads as empty text).
bool IsUsablePosition(std::string_view longitude, std::string_view latitude);
// The range part of the rule, for two numbers.
inline bool IsUsableDegrees(double longitude, double latitude) {
  return std::fabs(longitude) <= 180.0 && std::fabs(latitude) <= 90.0 && !(longitude == 0.0 && latitude == 0.0);
}

// One GPS fix as the tracking service stored it: the texts of its time,
// SIMID and alarm state, and its numeric columns.
struct TrackPoint {
  std::string time;        // yyyy-mm-dd hh:mm:ss
  FixValue longitude;      // degrees
  FixValue latitude;       // degrees
  std::string simId;
  FixValue speed;          // km/h
  std::string alarmState;

  // Whether the fix has a position a distance may be measured from (see
  // IsUsablePosition). Asked of every fix: numbers the database returned are
  // judged without a call.
  bool HasUsablePosition() const {
    if (longitude.IsDatabaseNumber() && latitude.IsDatabaseNumber()) {
      return IsUsableDegrees(longitude.Number(), latitude.Number());  // NaN and infinities fail the range
    }
    return IsUsablePosition(longitude, latitude);
  }

  double Longitude() const { return longitude.Number(); }
  double Latitude() const { return latitude.Number(); }
  double Speed() const { return speed.Number(); }
  int SpeedInteger() const { return speed.IntegerPart(); }
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
    return slots_[count_++];
  }

  // Keeps the fixes for which keep(fix) is true, in their order; the others
  // are dropped and the end mark follows the last fix kept.
  template <typename Keep>
  void KeepIf(Keep keep) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count_; ++i) {
      if (!keep(static_cast<const TrackPoint&>(slots_[i]))) continue;
      if (kept != i) std::swap(slots_[kept], slots_[i]);
      ++kept;
    }
    count_ = kept;
    slots_[count_].simId.clear();
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
