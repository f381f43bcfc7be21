#include "month_fleet.hpp"

#include <fmt/format.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "app/service/service.hpp"
#include "app/service/service_log.hpp"
#include "app/simulate/simulator.hpp"
#include "db/dialect.hpp"
#include "db/session.hpp"

namespace cuserver::bench {
namespace {

constexpr const char* kReportIni =
    "[General]\nUSECAR=TRUE\nBEGINTIME=06:30\nENDTIME=20:30\nGENERALWAY=80\nHIGHWAY=120\nHIGHSPEED=250\n"
    "SPEEDTIMESPAN=60\n";
constexpr const char* kDoneTable = "bench_month_complete";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string LibpqKeyword(const std::string& conninfo, const std::string& key) {
  for (std::size_t at = conninfo.find(key + "="); at != std::string::npos; at = conninfo.find(key + "=", at + 1)) {
    if (at != 0 && conninfo[at - 1] != ' ') continue;
    const std::size_t begin = at + key.size() + 1;
    return conninfo.substr(begin, conninfo.find(' ', begin) - begin);
  }
  return {};
}

// The rows of the day copied to the other days of March: text times have
// their date replaced, PostgreSQL's timestamp times are shifted.
void FillMonth(ReportDatabase& db, bool postgres) {
  for (int d = 1; d <= 30; ++d) {
    if (d == 19) continue;
    const auto text = [d](const char* column) {
      return fmt::format("replace({}, '2014-03-19', '2014-03-{:02}')", column, d);
    };
    const auto shift = [&](const char* column) {
      return postgres ? fmt::format("{} + interval '{} day'", column, d - 19) : text(column);
    };
    db.ExecuteStatement(fmt::format(
        "insert into speedalarm201403 select SIMID,SPEED,{},{},TOTTIME,BOOL,DISTANCE,LONGITUDE,LATITUDE,SPEEDADD,"
        "REMARK from speedalarm201403 where TIMELOG like '2014-03-19%'",
        text("TIMELOG"), text("ENDTIME")));
    db.ExecuteStatement(fmt::format(
        "insert into vehicledistance201403 select SIMID,{},{},TOTTIME,DISTANCE,REMARK from vehicledistance201403 "
        "where BEGINTIME like '2014-03-19%'",
        text("BEGINTIME"), text("ENDTIME")));
    db.ExecuteStatement(fmt::format(
        "insert into parkinglog201403 select SIMID,{},{},TOTTIME,LONGITUDE,LATITUDE,STOPADD,CURRENTPOI,REMARK "
        "from parkinglog201403 where cast(BEGINTIME as varchar(30)) like '2014-03-19%'",
        shift("BEGINTIME"), shift("ENDTIME")));
    db.ExecuteStatement(fmt::format(
        "insert into tireddriver select SIMID,{},{},addtime from tireddriver where begintime like '2014-03-19%'",
        text("begintime"), text("ENDTIME")));
    db.ExecuteStatement(fmt::format(
        "insert into CONTACTALARM select SIMID,{},{} from CONTACTALARM where BEGINTIME like '2014-03-19%'",
        text("BEGINTIME"), text("ENDTIME")));
  }
  db.ExecuteStatement("analyze");
}

void ComputeDay(const std::filesystem::path& dir) {
  ServiceOptions options;
  options.startDirectory = dir;
  options.configFile = dir / "gpsserver.ini";
  options.connectPause = std::chrono::milliseconds{0};
  options.tickPeriod = std::chrono::milliseconds{0};
  ServiceLog log;
  Service service(options, log);
  service.Start();
  service.Queue().WaitIdle();
  service.Submit("run-day", nlohmann::json{{"day", kMonthFleetDay}});
  service.Queue().WaitIdle();
}

}  // namespace

std::filesystem::path MonthFleet(const std::string& backend) {
  const std::string cache = Env("CUSERVER_BENCH_CACHE");
  const std::filesystem::path root =
      cache.empty() ? std::filesystem::temp_directory_path() / "cuserver-bench-service" : std::filesystem::path(cache);
  const std::filesystem::path dir = root / fmt::format("{}-{}-month", backend, kMonthFleetVehicles);
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "report.ini") << kReportIni;
  const bool postgres = backend == "postgresql";
  const std::string schema = fmt::format("bench_service_{}", kMonthFleetVehicles);
  if (postgres) {
    const std::string conninfo = Env("CUSERVER_TEST_PG");
    if (conninfo.empty()) throw std::runtime_error("CUSERVER_TEST_PG is not set");
    ConnectionSettings admin;
    admin.backend = Backend::Postgresql;
    admin.dataSource = conninfo;
    admin.userId = LibpqKeyword(conninfo, "user");
    admin.password = LibpqKeyword(conninfo, "password");
    ReportDatabase db;
    db.OpenReportSession(admin);
    db.ExecuteStatement("create schema if not exists " + schema);
    std::ofstream(dir / "gpsserver.ini") << fmt::format(
        "[General]\nBackend=postgresql\nDataSource={} options=-csearch_path={}\nUSERID={}\nPassword={}\n", conninfo,
        schema, admin.userId, admin.password);
  } else {
    std::ofstream(dir / "gpsserver.ini") << "[General]\nBackend=sqlite3\nDataSource=fleet.db\n";
  }

  ConnectionSettings settings = AllowingNewSqliteFile(ReadConnectionSettings(dir / "gpsserver.ini", dir));
  {
    ReportDatabase db;
    db.OpenReportSession(settings);
    if (TableExists(db, kDoneTable)) return dir;
  }
  // A fleet left half made is made again from nothing.
  if (postgres) {
    ReportDatabase db;
    db.OpenReportSession(settings);
    db.ExecuteStatement(fmt::format("drop schema {} cascade", schema));
    db.ExecuteStatement(fmt::format("create schema {}", schema));
  } else {
    std::filesystem::remove(dir / "fleet.db");
  }
  {
    ReportDatabase db;
    db.OpenReportSession(settings);
    std::cerr << "making the month fleet (" << backend << ", " << kMonthFleetVehicles << " vehicles) in "
              << dir.string() << " ..." << std::endl;
    sim::SimulationOptions options;
    options.vehicles = kMonthFleetVehicles;
    options.intervalSeconds = 30;
    options.dayKey = kMonthFleetDay;
    options.seed = 1;
    options.highwaySegments = 20000;
    options.areas = 50;
    options.areaEntryEvery = 10;
    options.allDay = true;
    options.markDatabase = false;
    options.markMapFolder = false;
    sim::Simulate(db, dir / "HighWay", options);
  }
  ComputeDay(dir);
  ReportDatabase db;
  db.OpenReportSession(settings);
  FillMonth(db, postgres);
  db.ExecuteStatement(fmt::format("create table {} (done int)", kDoneTable));
  return dir;
}

}  // namespace cuserver::bench
