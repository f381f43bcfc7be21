#pragma once

#include <string>
#include <vector>

#include "db/session.hpp"
#include "support/db_fixture.hpp"

namespace cuserver {

// A database of one backend ("sqlite3", "postgresql", "mysql" or
// "odbc_mysql") with the tracking service's tables, that a test has to
// itself: a SQLite file, a schema of its own on the server named by
// CUSERVER_TEST_PG, or a database of its own on the one named by
// CUSERVER_TEST_MYSQL (through ODBC: by a data source of its own, made after
// CUSERVER_TEST_MYSQL_ODBC's in $ODBCINI). Settings() reaches the
// same tables, so runs that open their own session see what the test wrote.
class BackendDatabase {
 public:
  explicit BackendDatabase(const std::string& backend);
  ~BackendDatabase();
  BackendDatabase(const BackendDatabase&) = delete;
  BackendDatabase& operator=(const BackendDatabase&) = delete;

  const ConnectionSettings& Settings() const { return settings_; }
  ReportDatabase& Db() { return db_; }
  const std::filesystem::path& Folder() const { return dir_.Path(); }

  void Execute(const std::string& statement) { db_.ExecuteStatement(statement); }
  void AddVehicle(const std::string& simId);
  // Creates the day table when missing; times are "hh:mm:ss" of the day.
  void AddFix(const std::string& dayKey, const std::string& simId, const std::string& timeOfDay,
              double longitude, double latitude);
  // Rows of a query as the texts of the named columns (NULL as "NULL").
  std::vector<std::vector<std::string>> Rows(const std::string& query, const std::vector<std::string>& columns);
  int Count(const std::string& table);

 private:
  test::TempDir dir_;
  ConnectionSettings settings_;
  ConnectionSettings adminSettings_;
  std::string schema_;
  ReportDatabase db_;
};

// The backends to run on: "sqlite3", and "postgresql", "mysql" and
// "odbc_mysql" when the environment offers them.
std::vector<std::string> SqlBackends();

// A simulated day (20140319) of 36 vehicles in the database and its map in
// the folder's HighWay/: vehicles driving highways and speed areas, stops,
// gaps, long drives, silent vehicles and malformed fixes.
void SimulateTestFleet(BackendDatabase& database);

}  // namespace cuserver
