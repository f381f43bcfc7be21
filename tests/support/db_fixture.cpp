#include "support/db_fixture.hpp"

#include <soci/soci.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <stdexcept>

#include "db/schema.hpp"
#include "db/value_text.hpp"

namespace cuserver::test {
namespace {

// A test database need not survive a power cut; without the waits for the
// disk a SQLite test takes a tenth of the time.
constexpr const char* kNoSync = "PRAGMA synchronous=OFF";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string RandomSuffix() {
  static std::mt19937_64 random{std::random_device{}()};
  const char* digits = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string out;
  for (int i = 0; i < 10; ++i) out.push_back(digits[random() % 36]);
  return out;
}

// The value of one keyword of a libpq "key=value key=value" string.
std::string LibpqKeyword(const std::string& conninfo, const std::string& key) {
  std::size_t at = 0;
  while ((at = conninfo.find(key + "=", at)) != std::string::npos) {
    if (at == 0 || conninfo[at - 1] == ' ') {
      const auto begin = at + key.size() + 1;
      return conninfo.substr(begin, conninfo.find(' ', begin) - begin);
    }
    at += key.size();
  }
  return {};
}

}  // namespace

std::string WithMysqlDatabase(const std::string& connection, const std::string& database, bool withoutUser) {
  std::string out;
  std::size_t at = 0;
  while (at < connection.size()) {
    const std::size_t end = std::min(connection.find(' ', at), connection.size());
    const std::string word = connection.substr(at, end - at);
    const bool user = word.starts_with("user=") || word.starts_with("password=");
    if (!word.empty() && !word.starts_with("dbname=") && !word.starts_with("db=") && !(withoutUser && user)) {
      out += word + " ";
    }
    at = end + 1;
  }
  return out + "dbname=" + database;
}

namespace {

ConnectionSettings ServerSettings(const std::string& backendName) {
  ConnectionSettings settings;
  if (backendName == "postgresql") {
    settings.backend = Backend::Postgresql;
    settings.dataSource = Env("CUSERVER_TEST_PG");
    if (settings.dataSource.empty()) throw std::runtime_error("CUSERVER_TEST_PG is not set");
    settings.userId = LibpqKeyword(settings.dataSource, "user");
    settings.password = LibpqKeyword(settings.dataSource, "password");
  } else if (backendName == "odbc") {
    settings.backend = Backend::Odbc;
    settings.dataSource = Env("CUSERVER_TEST_ODBC");
    if (settings.dataSource.empty()) throw std::runtime_error("CUSERVER_TEST_ODBC is not set");
    settings.userId = Env("CUSERVER_TEST_ODBC_USER");
    settings.password = Env("CUSERVER_TEST_ODBC_PASSWORD");
  } else if (backendName == "mysql") {
    settings.backend = Backend::Mysql;
    const std::string connection = Env("CUSERVER_TEST_MYSQL");
    if (connection.empty()) throw std::runtime_error("CUSERVER_TEST_MYSQL is not set");
    // The credentials as USERID and Password, so that a test can change them.
    settings.userId = LibpqKeyword(connection, "user");
    settings.password = LibpqKeyword(connection, "password");
    settings.dataSource = WithMysqlDatabase(connection, LibpqKeyword(connection, "dbname"), true);
  } else if (backendName == "odbc_mysql") {
    settings.backend = Backend::Odbc;
    settings.dataSource = Env("CUSERVER_TEST_MYSQL_ODBC");
    if (settings.dataSource.empty()) throw std::runtime_error("CUSERVER_TEST_MYSQL_ODBC is not set");
    settings.userId = Env("CUSERVER_TEST_MYSQL_ODBC_USER");
    settings.password = Env("CUSERVER_TEST_MYSQL_ODBC_PASSWORD");
  } else {
    throw std::runtime_error("unknown test backend " + backendName);
  }
  return settings;
}

}  // namespace

TempDir::TempDir() {
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("cuserver-test-" + RandomSuffix());
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

SqliteTestDatabase::SqliteTestDatabase() {
  settings_.backend = Backend::Sqlite3;
  settings_.dataSource = (dir_.Path() / "cuserver.db").string();
  db_.OpenReportSession(settings_);
  db_.ExecuteStatement(kNoSync);
  InitDatabase(db_);
}

std::vector<std::string> AvailableBackends() {
  std::vector<std::string> names{"sqlite3"};
  const bool required = Env("CUSERVER_REQUIRE_SERVERS") == "1";
  if (required || !Env("CUSERVER_TEST_PG").empty()) names.push_back("postgresql");
  if (required || !Env("CUSERVER_TEST_ODBC").empty()) names.push_back("odbc");
  if (required || !Env("CUSERVER_TEST_MYSQL").empty()) names.push_back("mysql");
  if (required || !Env("CUSERVER_TEST_MYSQL_ODBC").empty()) names.push_back("odbc_mysql");
  return names;
}

IsolatedDatabase::IsolatedDatabase(const std::string& backendName) {
  if (backendName == "sqlite3") {
    settings_.dataSource = (dir_.Path() / "cuserver.db").string();
  } else {
    settings_ = ServerSettings(backendName);
    schema_ = "cuserver_test_" + RandomSuffix();
    ReportDatabase admin;
    admin.OpenReportSession(settings_);
    // MySQL's schema is a database: CREATE SCHEMA makes one.
    admin.ExecuteStatement("CREATE SCHEMA " + schema_);
    if (settings_.backend == Backend::Mysql) settings_.dataSource = WithMysqlDatabase(settings_.dataSource, schema_, true);
  }
  Open(db_);
}

IsolatedDatabase::~IsolatedDatabase() {
  if (schema_.empty()) return;
  try {
    // Reopening drops the test's connection and whatever locks it still holds.
    ReportDatabase& admin = db_;
    admin.OpenReportSession(settings_);
    if (admin.Dialect() == SqlDialect::Mysql) {
      admin.ExecuteStatement("DROP DATABASE " + schema_);
      return;
    }
    admin.ExecuteStatement("SET client_min_messages TO warning");
    admin.ExecuteStatement("DROP SCHEMA " + schema_ + " CASCADE");
  } catch (...) {
    // A schema left behind lives only as long as the test server.
  }
}

void IsolatedDatabase::Open(ReportDatabase& db) const {
  db.OpenReportSession(settings_);
  if (schema_.empty()) {
    db.ExecuteStatement(kNoSync);
  } else if (db.Dialect() == SqlDialect::Mysql) {
    // The native session names its database in the settings; through ODBC
    // the data source names the shared one.
    if (settings_.backend == Backend::Odbc) db.ExecuteStatement("USE " + schema_);
    // Tests make rows by the thousand with recursive queries; MariaDB stops them at 1000.
    db.ExecuteStatement("SET SESSION max_recursive_iterations = 1000000");
  } else {
    db.ExecuteStatement("SET search_path TO " + schema_);
  }
}

std::vector<std::string> RowTexts(ReportDatabase& db, const std::string& query) {
  std::vector<std::string> rows;
  soci::rowset<soci::row> result = db.Native().prepare << query;
  for (const soci::row& row : result) {
    std::string text;
    for (std::size_t i = 0; i < row.size(); ++i) text += RowValueText(row, i).value_or("NULL") + "|";
    rows.push_back(std::move(text));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

}  // namespace cuserver::test
