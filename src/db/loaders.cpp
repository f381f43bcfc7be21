#include "db/loaders.hpp"

#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

std::string TextOrEmpty(const Cursor& cursor, std::string_view column) {
  return cursor.Value(column).value_or(std::string());
}

}  // namespace

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
    auto simId = cursor->Value("SIMID");
    if (!simId) {
      throw DatabaseError("vehicleinfo holds a vehicle whose simid is NULL (after " +
                          std::to_string(vehicles.size()) + " vehicles were read); the vehicle list cannot be loaded");
    }
    vehicles.push_back({std::move(*simId), TextOrEmpty(*cursor, "motorcadename"), TextOrEmpty(*cursor, "licenseplate")});
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
    diagnostics.Info("no area speed limits: table areaspeed cannot be read (" + DatabaseErrorText(e) + ")");
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
  auto cursor = db.OpenQuery("select * from " + table + " where SIMID='" + SqlValue(simId) + "' order by time asc");
  for (; !cursor->AtEnd(); cursor->Next()) {
    // Into the reused slot's own storage: a day run allocates only while a
    // vehicle outgrows every earlier one. A NULL reads as empty text.
    TrackPoint& fix = track.Append();
    cursor->ValueInto("SIMID", fix.simId);
    cursor->ValueInto("longitude", fix.longitude);
    cursor->ValueInto("latitude", fix.latitude);
    cursor->ValueInto("time", fix.time);
    cursor->ValueInto("speed", fix.speed);
    cursor->ValueInto("ALARMSTATE", fix.alarmState);
  }
  cursor->Close();
  return track.Count();
}

std::vector<std::string> LoadRoadNames(ReportDatabase& db) {
  std::vector<std::string> names;
  auto cursor = db.OpenQuery("select roadname from roadlightmapinfo");
  for (; !cursor->AtEnd(); cursor->Next()) {
    auto name = cursor->Value("roadname");
    if (!name) throw DatabaseError("roadlightmapinfo holds a road whose roadname is NULL");
    names.push_back(std::move(*name));
  }
  cursor->Close();
  return names;
}

}  // namespace cuserver
