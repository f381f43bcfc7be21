#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "db/session.hpp"
#include "support/temp_dir.hpp"

namespace cuserver {

// A start directory as the service runs in: gpsserver.ini naming a SQLite
// file "fleet.db" (tracking service's tables created), report.ini with
// limits 80 and 120 km/h, and the map folder HighWay/ with the geoset
// HIGHWAY.gst, one highway along latitude 23.378333 from longitude 103.30 to
// 103.40 ("G80广昆高速") and one speed area around longitude 103.35
// ("开远收费站", 0.01 degrees on each side).
class StartDirectory {
 public:
  StartDirectory();

  const std::filesystem::path& Path() const { return dir_.Path(); }
  std::filesystem::path ConfigFile() const { return Path() / "gpsserver.ini"; }
  ConnectionSettings Connection() const;
  // A session of the test's own, for filling and checking the database.
  ReportDatabase& Db() { return db_; }

  void AddVehicle(const std::string& simId, const std::string& plate = "云G12345");
  void AddAreaSpeed(const std::string& simId, const std::string& areaName, const std::string& limit);
  // Creates the day table when missing.
  void AddFix(const std::string& dayKey, const std::string& simId, const std::string& time,
              double longitude, double latitude, double speed);
  // A moving vehicle's day: fixes every 60 s from 08:00:00 along the
  // highway, count of them.
  void AddDrive(const std::string& dayKey, const std::string& simId, int count, double speed);

  // Rows of a query, each as the texts of the named columns (NULL as "NULL").
  std::vector<std::vector<std::string>> Rows(const std::string& query,
                                             const std::vector<std::string>& columns);
  int Count(const std::string& table);
  bool TableExists(const std::string& table);
  // The bytes of the run log, empty when there is none.
  std::string RunLogBytes() const;

  void WriteSettings(const std::string& gpsserverIni);

 private:
  TempDir dir_;
  ReportDatabase db_;
};

}  // namespace cuserver
