#include "db/loaders.hpp"

#include <algorithm>
#include <iterator>

#include "db/dialect.hpp"
#include "reports/sql_text.hpp"
#include "reports/translate.hpp"

namespace cuserver {
namespace {

std::string TextOrEmpty(const Cursor& cursor, std::string_view column) {
  return cursor.Value(column).value_or(std::string());
}

// The columns of a day track's rows, found once for the query: a reader of
// many rows then reads each by its place.
class FixColumns {
 public:
  explicit FixColumns(const Cursor& cursor)
      : simId_(cursor.Place("SIMID")),
        longitude_(cursor.Place("longitude")),
        latitude_(cursor.Place("latitude")),
        time_(cursor.Place("time")),
        speed_(cursor.Place("speed")),
        alarmState_(cursor.Place("ALARMSTATE")),
        byPlace_(simId_ >= 0 && longitude_ >= 0 && latitude_ >= 0 && time_ >= 0 && speed_ >= 0 &&
                 alarmState_ >= 0) {}

  bool SimIdEquals(const Cursor& cursor, std::string_view simId) const {
    if (byPlace_) return cursor.ValueAtEquals(simId_, simId);
    std::string text;
    cursor.ValueInto("SIMID", text);
    return text == simId;
  }

  void SimIdInto(const Cursor& cursor, std::string& simId) const {
    if (byPlace_) {
      cursor.ValueAtInto(simId_, simId);
    } else {
      cursor.ValueInto("SIMID", simId);
    }
  }

  // The columns after the SIMID, the numbers as the database returns them;
  // a NULL reads as empty text.
  void RestInto(const Cursor& cursor, TrackPoint& fix) const {
    if (!byPlace_) {
      cursor.FixValueInto("longitude", fix.longitude);
      cursor.FixValueInto("latitude", fix.latitude);
      cursor.ValueInto("time", fix.time);
      cursor.FixValueInto("speed", fix.speed);
      cursor.ValueInto("ALARMSTATE", fix.alarmState);
      return;
    }
    cursor.FixValueAt(longitude_, fix.longitude);
    cursor.FixValueAt(latitude_, fix.latitude);
    cursor.ValueAtInto(time_, fix.time);
    cursor.FixValueAt(speed_, fix.speed);
    cursor.ValueAtInto(alarmState_, fix.alarmState);
  }

 private:
  int simId_, longitude_, latitude_, time_, speed_, alarmState_;
  bool byPlace_;
};

}  // namespace

bool IsPlainSimId(std::string_view simId) {
  if (simId.empty() || simId.size() > 18 || simId.front() == '0') return false;
  return std::all_of(simId.begin(), simId.end(), [](char c) { return c >= '0' && c <= '9'; });
}

SpeedLimitTable LoadSpeedLimits(ReportDatabase& db) {
  SpeedLimitTable table;
  auto cursor = db.OpenQuery("select * from vehicleinfo");
  for (; !cursor->AtEnd(); cursor->Next()) {
    // A NULL reads as empty text, never as the previous row's value.
    table.push_back({TextOrEmpty(*cursor, "simid"), TextOrEmpty(*cursor, "alarmspeed"),
                     TextOrEmpty(*cursor, "highalarmspeed")});
  }
  cursor->Close();
  return table;
}

VehicleList LoadVehicleList(ReportDatabase& db) {
  VehicleList vehicles;
  auto cursor = db.OpenQuery(
      "select a.simid,a.licenseplate,b.motorcadename from vehicleinfo a,motorcade b where "
      "a.motorcadeid=b.motorcadeid");
  for (; !cursor->AtEnd(); cursor->Next()) {
    // A NULL SIMID reads as empty text: the run leaves that listing out.
    vehicles.push_back(
        {TextOrEmpty(*cursor, "SIMID"), TextOrEmpty(*cursor, "motorcadename"), TextOrEmpty(*cursor, "licenseplate")});
  }
  cursor->Close();
  return vehicles;
}

AreaSpeedList LoadAreaSpeedList(ReportDatabase& db, Diagnostics& diagnostics) {
  AreaSpeedList entries;
  std::unique_ptr<Cursor> cursor;
  try {
    cursor = db.OpenQuery("select simid,areakey,areaname,speedlimit from areaspeed");
  } catch (const DatabaseError& e) {
    // Only a table that is not there is no entries: one that cannot be read
    // now (a locked file, a lost connection) is a failure, told by the
    // vehicle list, read just before, being unreadable now too.
    if (TableExists(db, "areaspeed") || !TableExists(db, "vehicleinfo")) throw;
    diagnostics.Info(TrFormat("no area speed limits: table areaspeed cannot be read ({})", DatabaseErrorText(e)));
    return entries;
  }
  for (; !cursor->AtEnd(); cursor->Next()) {
    entries.push_back({TextOrEmpty(*cursor, "simid"), TextOrEmpty(*cursor, "areakey"),
                       TextOrEmpty(*cursor, "areaname"), TextOrEmpty(*cursor, "speedlimit")});
  }
  cursor->Close();
  return entries;
}

int LoadDayTrack(ReportDatabase& db, const std::string& simId, const std::string& dayKey, TrackBuffer& track) {
  track.Clear();
  const std::string table = "GPSDATA" + dayKey;
  if (!IsPlainTableName(table)) throw DatabaseError("\"" + dayKey + "\" is not a day key of a GPS day table");
  auto cursor = db.OpenBulkQuery("select * from " + table + " where SIMID=? order by time asc" + db.EqualTimesOrder(table),
                                 {simId});
  const FixColumns columns(*cursor);
  for (; !cursor->AtEnd(); cursor->Next()) {
    // Into the reused slot's own storage: a day run allocates only while a
    // vehicle outgrows every earlier one.
    TrackPoint& fix = track.Append();
    columns.SimIdInto(*cursor, fix.simId);
    columns.RestInto(*cursor, fix);
  }
  cursor->Close();
  return track.Count();
}

bool DayTrackBatch::Read(ReportDatabase& db, const std::string& dayKey, const std::vector<std::string>& simIds) {
  Forget();
  const std::string table = "GPSDATA" + dayKey;
  if (!IsPlainTableName(table)) throw DatabaseError("\"" + dayKey + "\" is not a day key of a GPS day table");
  // A SIMID that another text may equal in the database's comparison (a
  // number column takes '0139' for 139, a collation may ignore case or
  // trailing blanks) is loaded by itself, by the query that defines its
  // fixes; the batch holds only SIMIDs that equal no other text but
  // themselves.
  simIds_.clear();
  std::copy_if(simIds.begin(), simIds.end(), std::back_inserter(simIds_), IsPlainSimId);
  std::sort(simIds_.begin(), simIds_.end());
  simIds_.erase(std::unique(simIds_.begin(), simIds_.end()), simIds_.end());
  if (simIds_.empty()) return true;
  if (tracks_.size() < simIds_.size()) tracks_.resize(simIds_.size());
  for (std::size_t i = 0; i < simIds_.size(); ++i) tracks_[i].Clear();

  // "in" compares each SIMID as "=" does in the one-vehicle query, so the same
  // rows come back; ordered by SIMID, each vehicle's rows come together.
  std::string statement = "select * from " + table + " where SIMID in (";
  for (std::size_t i = 0; i < simIds_.size(); ++i) {
    if (i > 0) statement += ',';
    statement += SqlLiteral(simIds_[i]);
  }
  statement += ") order by SIMID, time asc" + db.EqualTimesOrder(table);
  auto cursor = db.OpenBulkQuery(statement);
  std::string rowSimId;
  std::size_t current = simIds_.size();  // the vehicle whose rows are coming
  std::vector<char> seen(simIds_.size(), 0);
  const FixColumns columns(*cursor);
  for (; !cursor->AtEnd(); cursor->Next()) {
    // Mostly the row is the same vehicle's as the row before.
    if (current == simIds_.size() || !columns.SimIdEquals(*cursor, simIds_[current])) {
      columns.SimIdInto(*cursor, rowSimId);
      const auto at = std::lower_bound(simIds_.begin(), simIds_.end(), rowSimId);
      current = static_cast<std::size_t>(at - simIds_.begin());
      // A text not listed, or a vehicle whose rows do not all come together:
      // the rows cannot be dealt to the vehicles with certainty.
      if (at == simIds_.end() || *at != rowSimId || seen[current]) {
        cursor->Close();
        Forget();
        return false;
      }
      seen[current] = 1;
    }
    TrackPoint& fix = tracks_[current].Append();
    fix.simId = simIds_[current];
    columns.RestInto(*cursor, fix);
  }
  cursor->Close();
  held_.assign(simIds_.size(), 1);
  return true;
}

bool DayTrackBatch::Take(const std::string& simId, TrackBuffer& track, int& n) {
  const auto at = std::lower_bound(simIds_.begin(), simIds_.end(), simId);
  if (at == simIds_.end() || *at != simId) return false;
  const auto i = static_cast<std::size_t>(at - simIds_.begin());
  if (i >= held_.size() || !held_[i]) return false;
  held_[i] = 0;
  std::swap(track, tracks_[i]);
  n = track.Count();
  return true;
}

void DayTrackBatch::Forget() {
  simIds_.clear();
  held_.clear();
}

std::vector<std::string> LoadRoadNames(ReportDatabase& db) {
  std::vector<std::string> names;
  auto cursor = db.OpenQuery("select roadname from roadlightmapinfo");
  for (; !cursor->AtEnd(); cursor->Next()) {
    auto name = cursor->Value("roadname");
    if (!name) throw DatabaseError(Tr("roadlightmapinfo holds a road whose roadname is NULL"));
    names.push_back(std::move(*name));
  }
  cursor->Close();
  return names;
}

}  // namespace cuserver
