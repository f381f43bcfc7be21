#include "backend_database.hpp"

#include <fmt/format.h>

#include <fstream>
#include <random>

#include "app/simulate/simulator.hpp"
#include "db/schema.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

std::string LibpqKeyword(const std::string& conninfo, const std::string& key) {
  for (std::size_t at = conninfo.find(key + "="); at != std::string::npos; at = conninfo.find(key + "=", at + 1)) {
    if (at == 0 || conninfo[at - 1] == ' ') {
      const auto begin = at + key.size() + 1;
      return conninfo.substr(begin, conninfo.find(' ', begin) - begin);
    }
  }
  return {};
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// The lines of a data source's section of an odbc.ini.
std::vector<std::string> OdbcSection(const std::string& ini, const std::string& dataSource) {
  std::ifstream in(ini);
  std::vector<std::string> lines;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("[")) {
      inside = line == "[" + dataSource + "]";
      continue;
    }
    if (inside && !line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string SchemaName() {
  static std::mt19937_64 random{std::random_device{}()};
  return fmt::format("cuserver_roads_{:x}", random());
}

}  // namespace

std::vector<std::string> SqlBackends() {
  std::vector<std::string> names;
  for (const auto& name : test::AvailableBackends()) {
    if (name != "odbc") names.push_back(name);
  }
  return names;
}

void SimulateTestFleet(BackendDatabase& database) {
  sim::SimulationOptions options;
  options.vehicles = 36;
  options.intervalSeconds = 120;
  options.dayKey = "20140319";
  options.seed = 7;
  options.highwaySegments = 60;
  options.areas = 6;
  options.areaEntryEvery = 3;
  sim::Simulate(database.Db(), database.Folder() / "HighWay", options);
}

BackendDatabase::BackendDatabase(const std::string& backend) {
  if (backend == "sqlite3") {
    settings_.dataSource = (dir_.Path() / "fleet.db").string();
  } else if (backend == "mysql" || backend == "odbc_mysql") {
    const std::string connection = Env("CUSERVER_TEST_MYSQL");
    if (connection.empty()) throw std::runtime_error("CUSERVER_TEST_MYSQL is not set");
    adminSettings_.backend = Backend::Mysql;
    adminSettings_.userId = LibpqKeyword(connection, "user");
    adminSettings_.password = LibpqKeyword(connection, "password");
    adminSettings_.dataSource = test::WithMysqlDatabase(connection, LibpqKeyword(connection, "dbname"), true);
    schema_ = SchemaName();
    ReportDatabase admin;
    admin.OpenReportSession(adminSettings_);
    admin.ExecuteStatement("CREATE DATABASE " + schema_);
    settings_ = adminSettings_;
    settings_.dataSource = test::WithMysqlDatabase(connection, schema_, true);
    if (backend == "odbc_mysql") {
      // A data source of the test's own database beside the shared one, in
      // the private odbc.ini: runs that open their own sessions reach it.
      const std::string shared = Env("CUSERVER_TEST_MYSQL_ODBC");
      const std::string ini = Env("ODBCINI");
      const std::vector<std::string> lines = OdbcSection(ini, shared);
      if (shared.empty() || lines.empty()) {
        throw std::runtime_error("no data source CUSERVER_TEST_MYSQL_ODBC in $ODBCINI");
      }
      // unixODBC takes names of up to 32 characters.
      const std::string name = "cuserver_" + schema_.substr(schema_.rfind('_') + 1);
      std::string section = "\n[" + name + "]\n";
      for (const std::string& line : lines) {
        const bool database = line.starts_with("Database") || line.starts_with("DATABASE");
        section += (database ? "Database = " + schema_ : line) + "\n";
      }
      std::ofstream(ini, std::ios::app) << section << std::flush;
      settings_ = ConnectionSettings{};
      settings_.backend = Backend::Odbc;
      settings_.dataSource = name;
      settings_.userId = Env("CUSERVER_TEST_MYSQL_ODBC_USER");
      settings_.password = Env("CUSERVER_TEST_MYSQL_ODBC_PASSWORD");
    }
  } else {
    const char* conninfo = std::getenv("CUSERVER_TEST_PG");
    if (conninfo == nullptr || *conninfo == '\0') throw std::runtime_error("CUSERVER_TEST_PG is not set");
    adminSettings_.backend = Backend::Postgresql;
    adminSettings_.dataSource = conninfo;
    adminSettings_.userId = LibpqKeyword(conninfo, "user");
    adminSettings_.password = LibpqKeyword(conninfo, "password");
    schema_ = SchemaName();
    ReportDatabase admin;
    admin.OpenReportSession(adminSettings_);
    admin.ExecuteStatement("CREATE SCHEMA " + schema_);
    settings_ = adminSettings_;
    settings_.dataSource += " options='-c search_path=" + schema_ + "'";
  }
  db_.OpenReportSession(settings_);
  InitDatabase(db_);
  db_.ExecuteStatement("insert into motorcade (motorcadeid, motorcadename) values ('1', '开远车队')");
}

BackendDatabase::~BackendDatabase() {
  if (schema_.empty()) return;
  try {
    ReportDatabase admin;
    admin.OpenReportSession(adminSettings_);
    if (adminSettings_.backend == Backend::Mysql) {
      admin.ExecuteStatement("DROP DATABASE " + schema_);
      return;
    }
    admin.ExecuteStatement("SET client_min_messages TO warning");
    admin.ExecuteStatement("DROP SCHEMA " + schema_ + " CASCADE");
  } catch (...) {
    // A schema left behind lives only as long as the test server.
  }
}

void BackendDatabase::AddVehicle(const std::string& simId) {
  db_.ExecuteStatement(fmt::format(
      "insert into vehicleinfo (simid, licenseplate, motorcadeid) values ('{}', '云G12345', '1')", SqlValue(simId)));
}

void BackendDatabase::AddFix(const std::string& dayKey, const std::string& simId, const std::string& timeOfDay,
                             double longitude, double latitude) {
  CreateGpsDayTable(db_, dayKey);
  const std::string time =
      fmt::format("{}-{}-{} {}", dayKey.substr(0, 4), dayKey.substr(4, 2), dayKey.substr(6, 2), timeOfDay);
  db_.ExecuteStatement(fmt::format(
      "insert into GPSDATA{} (SIMID, time, longitude, latitude, speed, ALARMSTATE) values ('{}', '{}', {}, {}, 60, '0')",
      dayKey, SqlValue(simId), time, longitude, latitude));
}

std::vector<std::vector<std::string>> BackendDatabase::Rows(const std::string& query,
                                                            const std::vector<std::string>& columns) {
  std::vector<std::vector<std::string>> rows;
  auto cursor = db_.OpenQuery(query);
  for (; !cursor->AtEnd(); cursor->Next()) {
    std::vector<std::string> row;
    for (const auto& column : columns) row.push_back(cursor->Value(column).value_or("NULL"));
    rows.push_back(std::move(row));
  }
  cursor->Close();
  return rows;
}

int BackendDatabase::Count(const std::string& table) {
  return std::stoi(Rows("select count(*) as n from " + table, {"n"}).at(0).at(0));
}

}  // namespace cuserver
