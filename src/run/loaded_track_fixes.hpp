#pragma once

#include <string>

#include "reports/ports.hpp"
#include "reports/track.hpp"

namespace cuserver {

// Serves the track distance's reads of the vehicle whose day track is loaded
// from that track instead of a query per speeding episode, but only when the
// track shows that the query would read the same rows in the same order:
// every time well formed (yyyy-mm-dd hh:mm:ss, so text order is time order
// in any collation) and later than the one before (no ties to order), every
// speed a number the database returned as a number, or NULL (so "Speed<>0"
// compares numbers as memory does, and a NULL speed is left out by both). A
// speed held as text is left to the database, whose comparison of a text with
// a number is its own: SQLite compares '0.00' with 0 as texts, and finds
// them different. Anything else, another vehicle or day, or an
// interval not within one date, goes to the database.
class LoadedTrackFixes : public FixReader {
 public:
  LoadedTrackFixes(FixReader& database, const TrackBuffer& track) : database_(database), track_(track) {}

  // The track now holds the fixes of simId's day dayKey, as LoadDayTrack
  // read them from "GPSDATA" + dayKey.
  void TrackLoaded(const std::string& simId, const std::string& dayKey);
  // The same, when the caller has read the track's times and speeds already:
  // timesRiseWithNumericSpeeds is what TrackLoaded would find of them (see
  // TrackQuality), so the track is not read again.
  void TrackLoaded(const std::string& simId, const std::string& dayKey, bool timesRiseWithNumericSpeeds) {
    usable_ = timesRiseWithNumericSpeeds;
    simId_ = simId;
    dayKey_ = dayKey;
  }
  // The track holds nothing known (a load failed).
  void Forget() { usable_ = false; }

  void ForEachFix(const std::string& query, const RowFunction& onRow) override {
    database_.ForEachFix(query, onRow);
  }
  bool ForEachKnownFix(const std::string& simId, const std::string& begin, const std::string& end,
                       const PositionFunction& onPosition) override;

 private:
  FixReader& database_;
  const TrackBuffer& track_;
  bool usable_ = false;
  std::string simId_;
  std::string dayKey_;
};

// yyyy-mm-dd hh:mm:ss with digits where digits belong.
bool IsWellFormedTrackTime(const std::string& time);

}  // namespace cuserver
