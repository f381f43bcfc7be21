#include "db/ledger.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <ctime>

#include "db/dialect.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

struct LedgerTable {
  std::string_view name;
  std::string_view columns;  // "%t" is each database's type for long text
};

constexpr std::array<LedgerTable, 4> kLedgerTables{{
    {"cuserver_days",
     "command VARCHAR(20) NOT NULL, day VARCHAR(8) NOT NULL, shard VARCHAR(20) NOT NULL, attempts INTEGER, "
     "host VARCHAR(100), pid INTEGER, started VARCHAR(19), ended VARCHAR(19), outcome VARCHAR(20), "
     "vehicles INTEGER, computed INTEGER, skipped INTEGER, rows_written INTEGER, rows_refused INTEGER, "
     "reports_failed INTEGER, detail VARCHAR(1000), PRIMARY KEY (command, day, shard)"},
    {"cuserver_vehicle_days",
     "command VARCHAR(20) NOT NULL, day VARCHAR(8) NOT NULL, simid VARCHAR(40) NOT NULL, rows_written INTEGER, "
     "row_images %t, PRIMARY KEY (command, day, simid)"},
    {"cuserver_requests",
     "id INTEGER NOT NULL PRIMARY KEY, command VARCHAR(20), arguments VARCHAR(1000), label VARCHAR(200), "
     "requested VARCHAR(19), started VARCHAR(19), ended VARCHAR(19), outcome VARCHAR(20), detail VARCHAR(1000)"},
    {"cuserver_service", "name VARCHAR(40) NOT NULL PRIMARY KEY, value VARCHAR(200)"},
}};

// Ledger texts are kept within their columns: a detail of 1000 characters at most.
std::string Clipped(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // not inside a UTF-8 character
  return std::string(text.substr(0, cut));
}

int IntOf(const std::optional<std::string>& text) { return text ? std::atoi(text->c_str()) : 0; }
std::string TextOf(const std::optional<std::string>& text) { return text.value_or(std::string()); }

DayRecord ReadDay(const Cursor& row) {
  DayRecord day;
  day.command = TextOf(row.Value("command"));
  day.day = TextOf(row.Value("day"));
  day.shard = TextOf(row.Value("shard"));
  day.attempts = IntOf(row.Value("attempts"));
  day.host = TextOf(row.Value("host"));
  day.pid = IntOf(row.Value("pid"));
  day.started = TextOf(row.Value("started"));
  day.ended = TextOf(row.Value("ended"));
  day.outcome = ParseDayOutcome(TextOf(row.Value("outcome"))).value_or(DayOutcome::Running);
  day.counts.vehicles = IntOf(row.Value("vehicles"));
  day.counts.computed = IntOf(row.Value("computed"));
  day.counts.skipped = IntOf(row.Value("skipped"));
  day.counts.rowsWritten = IntOf(row.Value("rows_written"));
  day.counts.rowsRefused = IntOf(row.Value("rows_refused"));
  day.counts.reportsFailed = IntOf(row.Value("reports_failed"));
  day.detail = TextOf(row.Value("detail"));
  return day;
}

RequestRecord ReadRequest(const Cursor& row) {
  RequestRecord request;
  request.id = std::atoll(TextOf(row.Value("id")).c_str());
  request.command = TextOf(row.Value("command"));
  request.arguments = TextOf(row.Value("arguments"));
  request.label = TextOf(row.Value("label"));
  request.requested = TextOf(row.Value("requested"));
  request.started = TextOf(row.Value("started"));
  request.ended = TextOf(row.Value("ended"));
  request.outcome = TextOf(row.Value("outcome"));
  request.detail = TextOf(row.Value("detail"));
  return request;
}

std::string DayKeyCondition(std::string_view command, std::string_view day, std::string_view shard) {
  return fmt::format("command={} and day={} and shard={}", SqlLiteral(command), SqlLiteral(day), SqlLiteral(shard));
}

}  // namespace

std::string_view DayOutcomeText(DayOutcome outcome) {
  switch (outcome) {
    case DayOutcome::Running: return "running";
    case DayOutcome::Complete: return "complete";
    case DayOutcome::Incomplete: return "incomplete";
    case DayOutcome::Failed: return "failed";
    case DayOutcome::CouldNotRun: return "could not run";
  }
  return "running";
}

std::optional<DayOutcome> ParseDayOutcome(std::string_view text) {
  for (DayOutcome outcome : {DayOutcome::Running, DayOutcome::Complete, DayOutcome::Incomplete, DayOutcome::Failed,
                             DayOutcome::CouldNotRun}) {
    if (DayOutcomeText(outcome) == text) return outcome;
  }
  return std::nullopt;
}

void Ledger::EnsureTables() {
  const SqlDialect dialect = DialectOf(db_);
  const std::string_view longText = dialect == SqlDialect::Oracle ? "CLOB" : "TEXT";
  for (const LedgerTable& table : kLedgerTables) {
    if (TableExists(db_, table.name)) continue;
    std::string columns(table.columns);
    if (auto at = columns.find("%t"); at != std::string::npos) columns.replace(at, 2, longText);
    try {
      db_.ExecuteStatement(fmt::format("CREATE TABLE {} ({})", table.name, columns));
    } catch (const DatabaseError&) {
      // Another process may have made it meanwhile; only a table still missing is a failure.
      if (!TableExists(db_, table.name)) throw;
    }
  }
}

void Ledger::BeginDay(std::string_view command, std::string_view day, std::string_view shard,
                      std::string_view host, long pid, std::string_view started) {
  const std::string where = DayKeyCondition(command, day, shard);
  auto cursor = db_.OpenQuery("select attempts from cuserver_days where " + where);
  const bool exists = !cursor->AtEnd();
  cursor->Close();
  if (exists) {
    db_.ExecuteStatement(fmt::format(
        "update cuserver_days set attempts=attempts+1, host={}, pid={}, started={}, ended=NULL, outcome='running', "
        "vehicles=0, computed=0, skipped=0, rows_written=0, rows_refused=0, reports_failed=0, detail=NULL where {}",
        SqlLiteral(Clipped(host, 100)), pid, SqlLiteral(started), where));
  } else {
    db_.ExecuteStatement(fmt::format(
        "insert into cuserver_days (command, day, shard, attempts, host, pid, started, outcome) "
        "values ({}, {}, {}, 1, {}, {}, {}, 'running')",
        SqlLiteral(command), SqlLiteral(day), SqlLiteral(shard), SqlLiteral(Clipped(host, 100)), pid, SqlLiteral(started)));
  }
}

void Ledger::EndDay(std::string_view command, std::string_view day, std::string_view shard, DayOutcome outcome,
                    const DayCounts& counts, std::string_view ended, std::string_view detail) {
  db_.ExecuteStatement(fmt::format(
      "update cuserver_days set ended={}, outcome={}, vehicles={}, computed={}, skipped={}, rows_written={}, "
      "rows_refused={}, reports_failed={}, detail={} where {}",
      SqlLiteral(ended), SqlLiteral(DayOutcomeText(outcome)), counts.vehicles, counts.computed, counts.skipped,
      counts.rowsWritten, counts.rowsRefused, counts.reportsFailed, SqlLiteral(Clipped(detail, 1000)),
      DayKeyCondition(command, day, shard)));
}

std::vector<DayRecord> Ledger::Days(std::string_view command, std::string_view from, std::string_view to) {
  std::string query = fmt::format("select * from cuserver_days where day >= {} and day <= {}", SqlLiteral(from),
                                  SqlLiteral(to));
  if (!command.empty()) query += " and command=" + SqlLiteral(command);
  query += " order by day, command, shard";
  std::vector<DayRecord> days;
  auto cursor = db_.OpenQuery(query);
  for (; !cursor->AtEnd(); cursor->Next()) days.push_back(ReadDay(*cursor));
  cursor->Close();
  return days;
}

void Ledger::ResetAttempts(std::string_view command, std::string_view day) {
  db_.ExecuteStatement(fmt::format("update cuserver_days set attempts=0 where command={} and day={}",
                                   SqlLiteral(command), SqlLiteral(day)));
}

std::optional<std::string> Ledger::FirstServiceDay() {
  auto cursor = db_.OpenQuery("select value from cuserver_service where name='first_started_day'");
  std::optional<std::string> day;
  if (!cursor->AtEnd()) day = cursor->Value("value");
  cursor->Close();
  return day;
}

void Ledger::RecordFirstServiceDay(std::string_view day) {
  if (FirstServiceDay()) return;
  try {
    db_.ExecuteStatement(
        fmt::format("insert into cuserver_service (name, value) values ('first_started_day', {})", SqlLiteral(day)));
  } catch (const DatabaseError&) {
    if (!FirstServiceDay()) throw;  // another service recorded it first
  }
}

long long Ledger::AddRequest(std::string_view command, std::string_view arguments, std::string_view label,
                             std::string_view requested) {
  // Two services never share a database's queue at once (the start directory
  // lock and the ledger's claims see to it); a clash on the key is retried.
  for (int attempt = 0;; ++attempt) {
    auto cursor = db_.OpenQuery("select max(id) as id from cuserver_requests");
    long long id = 1;
    if (!cursor->AtEnd()) {
      if (auto last = cursor->Value("id")) id = std::atoll(last->c_str()) + 1;
    }
    cursor->Close();
    try {
      db_.ExecuteStatement(fmt::format(
          "insert into cuserver_requests (id, command, arguments, label, requested) values ({}, {}, {}, {}, {})", id,
          SqlLiteral(command), SqlLiteral(Clipped(arguments, 1000)), SqlLiteral(Clipped(label, 200)), SqlLiteral(requested)));
      return id;
    } catch (const DatabaseError&) {
      if (attempt == 3) throw;
    }
  }
}

void Ledger::RequestStarted(long long id, std::string_view started) {
  db_.ExecuteStatement(fmt::format("update cuserver_requests set started={} where id={}", SqlLiteral(started), id));
}

void Ledger::RequestEnded(long long id, std::string_view ended, std::string_view outcome, std::string_view detail) {
  db_.ExecuteStatement(fmt::format("update cuserver_requests set ended={}, outcome={}, detail={} where id={}",
                                   SqlLiteral(ended), SqlLiteral(Clipped(outcome, 20)), SqlLiteral(Clipped(detail, 1000)), id));
}

std::vector<RequestRecord> Ledger::OpenRequests() {
  std::vector<RequestRecord> requests;
  auto cursor = db_.OpenQuery("select * from cuserver_requests where ended is null order by id");
  for (; !cursor->AtEnd(); cursor->Next()) requests.push_back(ReadRequest(*cursor));
  cursor->Close();
  return requests;
}

std::vector<RequestRecord> Ledger::RecentRequests(int count) {
  std::vector<RequestRecord> requests;
  auto cursor = db_.OpenQuery("select * from cuserver_requests where ended is not null order by id desc");
  for (; !cursor->AtEnd() && static_cast<int>(requests.size()) < count; cursor->Next()) {
    requests.push_back(ReadRequest(*cursor));
  }
  cursor->Close();
  return requests;
}

std::map<std::string, std::string> Ledger::VehicleDayRows(std::string_view command, std::string_view day) {
  std::map<std::string, std::string> rows;
  auto cursor = db_.OpenQuery(
      fmt::format("select simid, row_images from cuserver_vehicle_days where command={} and day={}", SqlLiteral(command),
                  SqlLiteral(day)));
  std::string simId;
  std::string images;
  for (; !cursor->AtEnd(); cursor->Next()) {
    cursor->ValueInto("simid", simId);
    cursor->ValueInto("row_images", images);
    rows[simId] = images;
  }
  cursor->Close();
  return rows;
}

std::vector<std::string> Ledger::ReplaceVehicleDayStatements(std::string_view command, std::string_view day,
                                                             std::string_view simId, int rows,
                                                             std::string_view serialisedRows, bool hadEntry) const {
  std::vector<std::string> statements;
  if (hadEntry) {
    statements.push_back(fmt::format("delete from cuserver_vehicle_days where command={} and day={} and simid={}",
                                     SqlLiteral(command), SqlLiteral(day), SqlLiteral(simId)));
  }
  statements.push_back(fmt::format(
      "insert into cuserver_vehicle_days (command, day, simid, rows_written, row_images) values ({}, {}, {}, {}, {})",
      SqlLiteral(command), SqlLiteral(day), SqlLiteral(simId), rows, SqlLiteral(serialisedRows)));
  return statements;
}

std::string LedgerNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

}  // namespace cuserver
