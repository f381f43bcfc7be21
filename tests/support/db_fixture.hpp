#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "db/session.hpp"

namespace cuserver::test {

// A fresh folder under the system's temp folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A SQLite database file in its own temp folder, its session open and the
// tracking service's tables created (InitDatabase).
class SqliteTestDatabase {
 public:
  SqliteTestDatabase();
  ReportDatabase& Db() { return db_; }
  const ConnectionSettings& Settings() const { return settings_; }
  const std::filesystem::path& Folder() const { return dir_.Path(); }
  std::filesystem::path File() const { return settings_.dataSource; }

 private:
  TempDir dir_;
  ConnectionSettings settings_;
  ReportDatabase db_;
};

// The backends the environment offers to the tests: "sqlite3" always,
// "postgresql" when CUSERVER_TEST_PG holds a libpq connection string, "odbc"
// when CUSERVER_TEST_ODBC names an ODBC data source (with
// CUSERVER_TEST_ODBC_USER and CUSERVER_TEST_ODBC_PASSWORD), "mysql" when
// CUSERVER_TEST_MYSQL holds a MySQL connection string, "odbc_mysql" when
// CUSERVER_TEST_MYSQL_ODBC names a MariaDB data source (with
// CUSERVER_TEST_MYSQL_ODBC_USER and ..._PASSWORD). With
// CUSERVER_REQUIRE_SERVERS=1 the server backends are listed even when their
// variables are missing, so that their tests fail instead of being skipped.
std::vector<std::string> AvailableBackends();

// A MySQL connection string of the tests ("host=... port=... dbname=...",
// no quoted blanks) naming another database, and no user or password when asked.
std::string WithMysqlDatabase(const std::string& connection, const std::string& database, bool withoutUser = false);

// Each row of a query as its columns' texts, each followed by '|' (NULL as
// "NULL"), sorted: what two runs wrote compares as two such lists.
std::vector<std::string> RowTexts(ReportDatabase& db, const std::string& query);

// A database of one backend that a test has to itself: a SQLite file in a
// temp folder, or a schema (MySQL: a database) of its own on a server,
// dropped at the end.
class IsolatedDatabase {
 public:
  // Throws std::runtime_error when the backend's variables are missing.
  explicit IsolatedDatabase(const std::string& backendName);
  ~IsolatedDatabase();
  IsolatedDatabase(const IsolatedDatabase&) = delete;
  IsolatedDatabase& operator=(const IsolatedDatabase&) = delete;

  // Opens (again) the test's session, set to the test's own schema.
  void Open(ReportDatabase& db) const;
  ReportDatabase& Db() { return db_; }
  const ConnectionSettings& Settings() const { return settings_; }

 private:
  TempDir dir_;
  ConnectionSettings settings_;
  std::string schema_;
  ReportDatabase db_;
};

}  // namespace cuserver::test
