#include "start_directory.hpp"

#include <fmt/format.h>

#include <fstream>
#include <iterator>

#include "db/schema.hpp"
#include "map/map_writer.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

void WriteText(const std::filesystem::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary);
  out << text;
}

void WriteMap(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  MapTable highways;
  highways.fields = {"名称"};
  highways.features.push_back(
      {MapShape::Line, {{103.30, 23.378333}, {103.40, 23.378333}}, {"G80广昆高速"}});
  WriteMapTable(folder / "HIGHWAY.TAB", highways);
  MapTable areas;
  areas.fields = {"名称"};
  areas.features.push_back({MapShape::Region,
                            {{103.34, 23.368333}, {103.36, 23.368333}, {103.36, 23.388333},
                             {103.34, 23.388333}},
                            {"开远收费站"}});
  WriteMapTable(folder / "userspeed.TAB", areas);
  WriteGeoset(folder / "HIGHWAY.gst", "HIGHWAY", {"HIGHWAY.TAB", "userspeed.TAB"});
}

}  // namespace

StartDirectory::StartDirectory() {
  WriteSettings("[General]\r\nBackend=sqlite3\r\nDataSource=fleet.db\r\nUSERID=\r\nPassword=\r\n");
  WriteText(Path() / "report.ini",
            "[General]\r\nUSECAR=TRUE\r\nBEGINTIME=06:30\r\nENDTIME=20:30\r\nGENERALWAY=80\r\n"
            "HIGHWAY=120\r\nHIGHSPEED=250\r\nSPEEDTIMESPAN=60\r\n");
  WriteMap(Path() / "HighWay");
  db_.OpenReportSession(Connection());
  InitDatabase(db_);
  db_.ExecuteStatement("insert into motorcade (motorcadeid, motorcadename) values ('1', '开远车队')");
}

void StartDirectory::WriteSettings(const std::string& gpsserverIni) {
  WriteText(ConfigFile(), gpsserverIni);
}

ConnectionSettings StartDirectory::Connection() const {
  ConnectionSettings settings;
  settings.backend = Backend::Sqlite3;
  settings.dataSource = (Path() / "fleet.db").string();
  return settings;
}

void StartDirectory::AddVehicle(const std::string& simId, const std::string& plate) {
  db_.ExecuteStatement(fmt::format(
      "insert into vehicleinfo (simid, licenseplate, motorcadeid) values ('{}', '{}', '1')",
      SqlValue(simId), SqlValue(plate)));
}

void StartDirectory::AddAreaSpeed(const std::string& simId, const std::string& areaName,
                                  const std::string& limit) {
  db_.ExecuteStatement(fmt::format(
      "insert into areaspeed (simid, areakey, areaname, speedlimit) values ('{}', 'k1', '{}', '{}')",
      SqlValue(simId), SqlValue(areaName), SqlValue(limit)));
}

void StartDirectory::AddFix(const std::string& dayKey, const std::string& simId,
                            const std::string& time, double longitude, double latitude,
                            double speed) {
  CreateGpsDayTable(db_, dayKey);
  db_.ExecuteStatement(fmt::format(
      "insert into GPSDATA{} (SIMID, time, longitude, latitude, speed, ALARMSTATE) "
      "values ('{}', '{}', {}, {}, {}, '0')",
      dayKey, SqlValue(simId), SqlValue(time), longitude, latitude, speed));
}

void StartDirectory::AddDrive(const std::string& dayKey, const std::string& simId, int count,
                              double speed) {
  std::string day = fmt::format("{}-{}-{}", dayKey.substr(0, 4), dayKey.substr(4, 2), dayKey.substr(6, 2));
  for (int i = 0; i < count; ++i) {
    int second = 8 * 3600 + 60 * i;
    std::string time = fmt::format("{} {:02}:{:02}:{:02}", day, second / 3600, second / 60 % 60, second % 60);
    AddFix(dayKey, simId, time, 103.30 + 0.001 * i, 23.378333, speed);
  }
}

std::vector<std::vector<std::string>> StartDirectory::Rows(const std::string& query,
                                                           const std::vector<std::string>& columns) {
  std::vector<std::vector<std::string>> rows;
  auto cursor = db_.OpenQuery(query);
  for (; !cursor->AtEnd(); cursor->Next()) {
    std::vector<std::string> row;
    for (const auto& column : columns) row.push_back(cursor->Value(column).value_or("NULL"));
    rows.push_back(row);
  }
  cursor->Close();
  return rows;
}

int StartDirectory::Count(const std::string& table) {
  return std::stoi(Rows("select count(*) as n from " + table, {"n"}).at(0).at(0));
}

bool StartDirectory::TableExists(const std::string& table) {
  try {
    db_.OpenQuery("select * from " + table)->Close();
    return true;
  } catch (const DatabaseError&) {
    return false;
  }
}

std::string StartDirectory::RunLogBytes() const {
  std::ifstream in(Path() / std::u8string(u8"运算过程.log"), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace cuserver
