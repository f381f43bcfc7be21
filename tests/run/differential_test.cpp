// The day run's fast reading (day tracks read together, read ahead on a
// session of their own, distances served from the loaded track) against the
// plain reading it stands for (each vehicle by its own query, each distance
// by its own query), on a fleet whose data is as real trackers send it: NULL,
// empty and zero positions, text, NULL and odd speeds, equal and backward
// times, fixes of other days, a numeric SIMID column, and a vehicle catalogue
// with listings repeated or without a SIMID. Every report table, the ledger's
// vehicle-days and the run log must come out the same, with any number of
// workers and with shards.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/simulate/simulator.hpp"
#include "backend_database.hpp"
#include "db/dialect.hpp"
#include "db/ledger.hpp"
#include "db/report_tables.hpp"
#include "db/row_images.hpp"
#include "db/row_statements.hpp"
#include "db/schema.hpp"
#include "db/loaders.hpp"
#include "map/map_services.hpp"
#include "run/day_run.hpp"

namespace cuserver {
namespace {

constexpr const char* kTables[] = {"speedalarm201403", "vehicledistance201403", "parkinglog201403", "tireddriver",
                                   "CONTACTALARM"};

struct Reading {
  std::string name;
  bool plain = false;
  int jobs = 1;
  int shards = 1;  // run one after the other, each shard 1..shards
};

class DifferentialTest : public ::testing::TestWithParam<std::string> {
 protected:
  DifferentialTest() : database_(GetParam()), map_(CreateMapServices(30)), runLog_(database_.Folder()) {
    SimulateTestFleet(database_);
    const bool sqlite = GetParam() == "sqlite3";
    const std::string zero = sim::SimulatedSimId(0);  // "13900000000"

    // The day as the tracking server left it: positions lost, speeds odd,
    // clocks wrong, fixes sent twice.
    const std::string day = "GPSDATA20140319";
    Mess(day, "substr(SIMID, 11, 1) = '1' and time like '%:1_:%'", "longitude=NULL, latitude=NULL");
    Mess(day, "substr(SIMID, 11, 1) = '2' and time like '%:2_:%'", "longitude=0, latitude=0");
    Mess(day, "substr(SIMID, 11, 1) = '3' and time like '%:3_:%'", "speed=NULL");
    Mess(day, "substr(SIMID, 11, 1) = '4' and time like '%:4_:%'", "latitude=95");
    if (sqlite) Mess(day, "substr(SIMID, 11, 1) = '5' and time like '%:5_:%'", "longitude='', latitude=''");
    // Equal times (another position and speed), then fixes of the days
    // before and after, stored after the day's own.
    Execute(fmt::format("insert into {0} select SIMID, time, longitude + 0.01, latitude, speed + 7, ALARMSTATE "
                        "from {0} where substr(SIMID, 11, 1) in ('6', '7') and time like '%:0_:00'",
                        day));
    Execute(fmt::format("insert into {0} select SIMID, replace(time, '2014-03-19', '2014-03-18'), longitude, "
                        "latitude, speed, ALARMSTATE from {0} where substr(SIMID, 11, 1) = '8' and time < "
                        "'2014-03-19 00:30:00'",
                        day));
    Execute(fmt::format("insert into {0} (SIMID, time, longitude, latitude, speed, ALARMSTATE) values "
                        "('{1}', '2013-12-31 23:59:00', 103.3, 23.3, 50, '0'), "
                        "('{1}', '2014-03-20 00:00:10', 103.3, 23.3, 50, '0')",
                        day, sim::SimulatedSimId(9)));

    // The next day in a table of another make: SIMIDs as numbers, and on
    // SQLite columns without a type, which keep texts as texts.
    const std::string next = "GPSDATA20140320";
    Execute(sqlite ? "CREATE TABLE " + next + " (SIMID INTEGER, time, longitude, latitude, speed, ALARMSTATE)"
                   : "CREATE TABLE " + next +
                         " (SIMID BIGINT, time VARCHAR(19), longitude DOUBLE PRECISION, latitude DOUBLE PRECISION, "
                         "speed DOUBLE PRECISION, ALARMSTATE VARCHAR(40))");
    Execute(fmt::format("insert into {} select cast(SIMID as {}), replace(time, '2014-03-19', '2014-03-20'), "
                        "longitude, latitude, speed, ALARMSTATE from {} where SIMID not like '%''%'",
                        next,
                        sqlite                                            ? "integer"
                        : database_.Db().Dialect() == SqlDialect::Mysql ? "signed"
                                                                          : "bigint",
                        day));
    if (sqlite) {
      int i = 0;
      for (const char* speed : {"'0.00'", "'00'", "'-0'", "'3.7040'", "'85'", "'abc'"}) {
        Mess(next, fmt::format("SIMID % 6 = {} and time like '%:1_:%'", i++), std::string("speed=") + speed);
      }
    }

    // The catalogue: a vehicle listed twice, one without a SIMID, a fleet id
    // listed twice (its vehicles listed twice over), and a SIMID that equals
    // another as a number.
    Execute(fmt::format("insert into vehicleinfo (simid, licenseplate, motorcadeid) values ('{}', 'again', '1')",
                        sim::SimulatedSimId(3)));
    Execute("insert into vehicleinfo (simid, licenseplate, motorcadeid) values (NULL, 'no sim', '1')");
    // Listed one after the other, so that they are read in one batch.
    Execute("delete from vehicleinfo where simid = '" + zero + "'");
    Execute("insert into vehicleinfo (simid, licenseplate, motorcadeid) values ('0" + zero + "', 'zero', '1')");
    Execute("insert into vehicleinfo (simid, licenseplate, motorcadeid) values ('" + zero + "', 'zero', '1')");
    Execute("insert into motorcade (motorcadeid, motorcadename) select motorcadeid, 'twice' from motorcade where "
            "motorcadeid = (select max(motorcadeid) from motorcade)");

    map_->LoadGeoset(database_.Folder() / "HighWay" / "HIGHWAY.gst");
    std::ofstream(database_.Folder() / "report.ini")
        << "[General]\r\nUSECAR=TRUE\r\nBEGINTIME=06:30\r\nENDTIME=20:30\r\nGENERALWAY=80\r\n"
           "HIGHWAY=120\r\nHIGHSPEED=250\r\nSPEEDTIMESPAN=60\r\n";
    limits_ = LoadSpeedLimits(database_.Db());
  }

  void Execute(const std::string& statement) { database_.Execute(statement); }
  void Mess(const std::string& table, const std::string& where, const std::string& set) {
    Execute(fmt::format("update {} set {} where {}", table, set, where));
  }

  // Computes the day the way `reading` says and returns every row it left,
  // sorted, with the run log it wrote.
  std::string Run(const std::string& dayKey, const Reading& reading) {
    const auto logSize = [&] {
      std::error_code error;
      const auto size = std::filesystem::file_size(runLog_.File(), error);
      return error ? std::uintmax_t{0} : size;
    };
    const std::uintmax_t logBefore = logSize();
    std::vector<std::string> told;
    for (int shard = 1; shard <= reading.shards; ++shard) {
      SilentCaption caption;
      Diagnostics diagnostics([&](const std::string& line) { told.push_back(line); });
      DayRunSetup setup{database_.Settings(), *map_,   limits_,     database_.Folder() / "report.ini",
                        runLog_,              caption, diagnostics, reading.jobs};
      setup.shard = {shard, reading.shards};
      setup.plainReads = reading.plain;
      const DayRunCounts counts = DayRun(dayKey, setup);
      EXPECT_EQ(counts.outcome, DayOutcome::Complete) << reading.name << ": " << counts.detail;
      EXPECT_EQ(counts.catalogue.listedAgain + counts.catalogue.withoutSimId > 0, true) << reading.name;
    }

    std::string dump;
    for (const char* table : kTables) dump += Table(fmt::format("select * from {}", table), table);
    dump += Table(fmt::format("select simid, rows_written, fixes, without_position, other_day, same_time, backwards, "
                              "jumps from cuserver_vehicle_days where command='run-day' and day='{}'",
                              dayKey),
                  "vehicle-days");
    std::ifstream in(runLog_.File(), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(logBefore));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    // Shards log their vehicles shard by shard.
    std::vector<std::string> sorted = lines;
    std::sort(sorted.begin(), sorted.end());
    dump += fmt::format("== run log, sorted ({} lines)\n", lines.size());
    for (const std::string& line : sorted) dump += line + "\n";
    if (reading.shards == 1) {
      dump += "== run log\n";
      for (const std::string& line : lines) dump += line + "\n";
    }
    return dump;
  }

  std::string Table(const std::string& query, const std::string& name) {
    const std::vector<std::string> rows = test::RowTexts(database_.Db(), query);
    std::string dump = fmt::format("== {} ({} rows)\n", name, rows.size());
    for (const std::string& row : rows) dump += row + "\n";
    return dump;
  }

  BackendDatabase database_;
  std::unique_ptr<MapServices> map_;
  SpeedLimitTable limits_;
  RunLog runLog_;
};

// The first line where two dumps part, not a screenful of them.
std::string FirstDifference(const std::string& mine, const std::string& reference) {
  std::istringstream a(mine);
  std::istringstream b(reference);
  std::string section;
  while (a || b) {
    std::string x;
    std::string y;
    std::getline(a, x);
    std::getline(b, y);
    if (x.starts_with("== ")) section = x;
    if (x != y) return fmt::format("in {}\n  fast:  {}\n  plain: {}", section, x, y);
  }
  return "the same";
}

TEST_P(DifferentialTest, EveryReadingGivesThePlainReadingsRows) {
  const std::vector<Reading> readings{{"one worker", false, 1, 1},
                                      {"two workers", false, 2, 1},
                                      {"three workers", false, 3, 1},
                                      {"three shards of two workers", false, 2, 3}};
  for (const std::string day : {"20140319", "20140320"}) {
    const std::string reference = Run(day, {"plain", true, 1, 1});
    // The day is not empty of what the test is about.
    EXPECT_NE(reference.find("== vehicle-days (3"), std::string::npos) << reference.substr(0, 2000);
    for (const Reading& reading : readings) {
      std::string dump = Run(day, reading);
      if (reading.shards > 1) dump += reference.substr(reference.find("== run log\n"));
      EXPECT_EQ(dump.size(), reference.size()) << day << ", " << reading.name;
      if (dump != reference) ADD_FAILURE() << day << ", " << reading.name << ": " << FirstDifference(dump, reference);
    }
  }
}

// Oracle's rules, broken by a statement only an Oracle server would refuse:
// no literal over 4,000 bytes, no name over 30 characters, none of the words
// Oracle lacks. Returns what a statement breaks, or "".
std::string OracleRulesBroken(const std::string& statement) {
  std::string broken;
  std::string words;  // the statement outside its literals, upper case
  for (std::size_t i = 0; i < statement.size(); ++i) {
    if (statement[i] != '\'') {
      words += static_cast<char>(std::toupper(static_cast<unsigned char>(statement[i])));
      continue;
    }
    std::size_t end = i + 1;
    while (end < statement.size() && !(statement[end] == '\'' && (end + 1 == statement.size() || statement[end + 1] != '\''))) {
      end += statement[end] == '\'' ? 2 : 1;
    }
    if (end - i - 1 > 4000) broken += fmt::format("a literal of {} bytes; ", end - i - 1);
    words += " '' ";
    i = end;
  }
  std::string word;
  for (const char c : words + " ") {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      word += c;
      continue;
    }
    if (word.size() > 30) broken += "the name " + word + " is over 30 characters; ";
    for (const char* missing : {"LIMIT", "OFFSET", "TEXT", "EXISTS"}) {
      if (word == missing) broken += "Oracle has no " + word + "; ";
    }
    word.clear();
  }
  return broken;
}

// Every statement the Oracle path sends for this day, with its values bound:
// the tables' definitions, the report rows, the ledger entries, the removals
// of earlier rows and the probes.
TEST_P(DifferentialTest, StatementsOfTheOraclePathKeepOraclesRules) {
  if (GetParam() != "sqlite3") GTEST_SKIP() << "the statements are the same whatever database made the rows";
  Run("20140319", {"fast"});
  std::vector<std::string> statements;
  for (const auto kind : {ReportTableKind::AlarmSMS, ReportTableKind::DownloadSMS, ReportTableKind::SpeedAlarm,
                          ReportTableKind::VehicleDistance, ReportTableKind::ParkingLog}) {
    statements.push_back(WithTableName(MapOracleDdl(OracleCreateTableTemplate(kind), SqlDialect::Oracle),
                                       "VehicleDistance201403"));
  }
  for (const auto& [table, statement] : LedgerTableStatements(SqlDialect::Oracle)) statements.push_back(statement);
  for (const auto& [table, statement] : ServiceTableStatements(SqlDialect::Oracle)) {
    statements.push_back(statement);
    statements.push_back(ProbeStatement(table));
  }
  ReportDatabase& db = database_.Db();
  ColumnTypes types(db, SqlDialect::Oracle);
  std::size_t longestEntry = 0;
  for (const auto& [simId, entry] : Ledger(db).VehicleDayRows(kDayRunCommand, "20140319")) {
    longestEntry = std::max(longestEntry, entry.size());
    const VehicleDayRows rows = VehicleDayRows::Parse(entry);
    std::vector<const RowImage*> images;
    for (const RowImage& image : rows.Rows()) {
      images.push_back(&image);
      std::vector<std::string_view> columns(image.columns.begin(), image.columns.end());
      std::vector<RowValue> values;
      for (const std::string& value : image.values) values.push_back(RowValue::Text(value));
      statements.push_back(
          BoundRowText(ReportRow{RowAction::Insert, image.table, columns, {}, values, nullptr}, Placeholders::Named));
      statements.push_back(ProbeStatement(image.table));
    }
    for (std::string& removal : DeleteStatements(images, types)) statements.push_back(std::move(removal));
    for (const ReportRow& row : Ledger(db).ReplaceVehicleDayRows(kDayRunCommand, "20140319", simId,
                                                                 static_cast<int>(rows.Rows().size()), entry, true)) {
      statements.push_back(BoundRowText(row, Placeholders::Named));
    }
  }
  EXPECT_GT(longestEntry, 4000u) << "no ledger entry is long enough to show that it is bound";
  EXPECT_GT(statements.size(), 100u);
  for (const std::string& statement : statements) EXPECT_EQ(OracleRulesBroken(statement), "") << statement;
  EXPECT_NE(OracleRulesBroken("select * from t where a = '" + std::string(4001, 'x') + "' limit 1"), "");
}

INSTANTIATE_TEST_SUITE_P(Backends, DifferentialTest, ::testing::ValuesIn(SqlBackends()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace cuserver
