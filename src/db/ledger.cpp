#include "db/ledger.hpp"

#include <fmt/format.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "db/dialect.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

struct LedgerTable {
  std::string_view name;
  std::string_view columns;  // "%t" is each database's type for long text (Oracle's CLOB as mapped)
};

constexpr std::array<LedgerTable, 4> kLedgerTables{{
    {"cuserver_days",
     "command VARCHAR(20) NOT NULL, day VARCHAR(8) NOT NULL, shard VARCHAR(20) NOT NULL, attempts INTEGER, "
     "host VARCHAR(100), pid INTEGER, started VARCHAR(19), ended VARCHAR(19), outcome VARCHAR(20), "
     "vehicles INTEGER, computed INTEGER, skipped INTEGER, rows_written INTEGER, rows_refused INTEGER, "
     "reports_failed INTEGER, detail VARCHAR(1000), heartbeat VARCHAR(19), PRIMARY KEY (command, day, shard)"},
    {"cuserver_vehicle_days",
     "command VARCHAR(20) NOT NULL, day VARCHAR(8) NOT NULL, simid VARCHAR(40) NOT NULL, rows_written INTEGER, "
     "row_images %t, fixes INTEGER, without_position INTEGER, other_day INTEGER, same_time INTEGER, "
     "backwards INTEGER, jumps INTEGER, PRIMARY KEY (command, day, simid)"},
    {"cuserver_requests",
     "id INTEGER NOT NULL PRIMARY KEY, command VARCHAR(20), arguments VARCHAR(1000), label VARCHAR(200), "
     "requested VARCHAR(19), started VARCHAR(19), ended VARCHAR(19), outcome VARCHAR(20), detail VARCHAR(1000)"},
    {"cuserver_service", "name VARCHAR(40) NOT NULL PRIMARY KEY, value VARCHAR(200)"},
}};

struct AddedColumn {
  std::string_view table;
  std::string_view column;
  std::string_view type;
};
constexpr std::array<AddedColumn, 7> kAddedColumns{{
    {"cuserver_days", "heartbeat", "VARCHAR(19)"},
    {"cuserver_vehicle_days", "fixes", "INTEGER"},
    {"cuserver_vehicle_days", "without_position", "INTEGER"},
    {"cuserver_vehicle_days", "other_day", "INTEGER"},
    {"cuserver_vehicle_days", "same_time", "INTEGER"},
    {"cuserver_vehicle_days", "backwards", "INTEGER"},
    {"cuserver_vehicle_days", "jumps", "INTEGER"},
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
  try {
    day.heartbeat = TextOf(row.Value("heartbeat"));
  } catch (const DatabaseError&) {
    // A ledger made before heartbeats, not yet brought up to date by EnsureTables.
  }
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

// The row of the claim's day while it is still the claim's.
std::string ClaimCondition(const DayClaim& claim) {
  return fmt::format("{} and outcome='running' and host={} and pid={} and started={}",
                     DayKeyCondition(claim.command, claim.day, claim.shard), SqlLiteral(claim.host), claim.pid,
                     SqlLiteral(claim.started));
}

std::string TimeText(std::time_t time, bool utc) {
  std::tm parts{};
  if (utc) {
    gmtime_r(&time, &parts);
  } else {
    localtime_r(&time, &parts);
  }
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

bool ProcessGone(long pid) {
  if (pid <= 0) return true;
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

std::optional<DayRecord> ReadDayRow(ReportDatabase& db, const std::string& where) {
  auto cursor = db.OpenQuery("select * from cuserver_days where " + where);
  std::optional<DayRecord> row;
  if (!cursor->AtEnd()) row = ReadDay(*cursor);
  cursor->Close();
  return row;
}

bool HeldBy(const std::optional<DayRecord>& row, const DayClaim& claim) {
  return row && row->outcome == DayOutcome::Running && row->host == claim.host && row->pid == claim.pid &&
         row->started == claim.started;
}

// The number of shards N of a shard text "K/N"; 0 when it is not one.
int ShardCount(std::string_view shard) {
  const auto slash = shard.find('/');
  return slash == std::string_view::npos ? 0 : std::atoi(std::string(shard.substr(slash + 1)).c_str());
}

// A live claim on the same command and day under another split of the fleet
// (a whole-day run beside a shard run, 1/2 beside 1/3): such runs share
// vehicles, whose ledger entries and rows both would write. Shards of one
// split hold vehicles apart and run side by side.
std::optional<DayRecord> OverlappingClaim(ReportDatabase& db, std::string_view command, std::string_view day,
                                          std::string_view shard, std::string_view host, long pid,
                                          std::chrono::seconds staleAfter) {
  auto cursor = db.OpenQuery(fmt::format(
      "select * from cuserver_days where command={} and day={} and shard<>{} and outcome='running'",
      SqlLiteral(command), SqlLiteral(day), SqlLiteral(shard)));
  std::vector<DayRecord> running;
  for (; !cursor->AtEnd(); cursor->Next()) running.push_back(ReadDay(*cursor));
  cursor->Close();
  for (DayRecord& other : running) {
    if (ShardCount(other.shard) == ShardCount(shard) && ShardCount(shard) > 0) continue;
    if (!ClaimAbandoned(other, host, pid, staleAfter)) return std::move(other);
  }
  return std::nullopt;
}

// Puts the day's row back as it was before this claim took it (removes it
// when the claim made it).
void GiveBack(ReportDatabase& db, const DayClaim& claim, const std::optional<DayRecord>& before) {
  if (!before) {
    db.ExecuteStatement("delete from cuserver_days where " + ClaimCondition(claim));
    return;
  }
  const auto textOrNull = [](const std::string& text) { return text.empty() ? std::string("NULL") : SqlLiteral(text); };
  db.ExecuteStatement(fmt::format(
      "update cuserver_days set attempts={}, host={}, pid={}, started={}, ended={}, outcome={}, vehicles={}, "
      "computed={}, skipped={}, rows_written={}, rows_refused={}, reports_failed={}, detail={}, heartbeat={} where {}",
      before->attempts, SqlLiteral(before->host), before->pid, SqlLiteral(before->started),
      textOrNull(before->ended), SqlLiteral(DayOutcomeText(before->outcome)), before->counts.vehicles,
      before->counts.computed, before->counts.skipped, before->counts.rowsWritten, before->counts.rowsRefused,
      before->counts.reportsFailed, textOrNull(before->detail), textOrNull(before->heartbeat),
      ClaimCondition(claim)));
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

std::vector<std::pair<std::string, std::string>> LedgerTableStatements(SqlDialect dialect) {
  const std::string longText = MapOracleDdl("CLOB", dialect);
  std::vector<std::pair<std::string, std::string>> statements;
  for (const LedgerTable& table : kLedgerTables) {
    std::string columns(table.columns);
    if (auto at = columns.find("%t"); at != std::string::npos) columns.replace(at, 2, longText);
    statements.emplace_back(table.name, fmt::format("CREATE TABLE {} ({})", table.name, columns));
  }
  for (const auto& [table, column, type] : kAddedColumns) {
    statements.emplace_back(table, fmt::format("ALTER TABLE {} ADD {} {}", table, column, type));
  }
  return statements;
}

void Ledger::EnsureTables() {
  const auto statements = LedgerTableStatements(DialectOf(db_));
  for (std::size_t i = 0; i < kLedgerTables.size(); ++i) {
    const LedgerTable& table = kLedgerTables[i];
    if (TableExists(db_, table.name)) continue;
    try {
      ExecuteDdl(db_, table.name, statements[i].second);
    } catch (const DatabaseError&) {
      // Another process may have made it meanwhile; only a table still missing is a failure.
      if (!TableExists(db_, table.name)) throw;
    }
  }
  // A ledger made by an earlier version gets the columns added since.
  for (std::size_t i = 0; i < std::size(kAddedColumns); ++i) {
    const auto& [table, column, type] = kAddedColumns[i];
    const std::string probe = fmt::format("select {} from {} where 1=0", column, table);
    try {
      db_.OpenQuery(probe)->Close();
    } catch (const DatabaseError&) {
      try {
        db_.ExecuteStatement(statements[kLedgerTables.size() + i].second);
      } catch (const DatabaseError&) {
        db_.OpenQuery(probe)->Close();  // added by another process
      }
    }
  }
}

DayClaim Ledger::BeginDay(std::string_view command, std::string_view day, std::string_view shard,
                          std::string_view host, long pid, std::string_view started, std::chrono::seconds staleAfter) {
  const DayClaim claim{std::string(command), std::string(day), std::string(shard), Clipped(host, 100), pid,
                       std::string(started)};
  const std::string where = DayKeyCondition(command, day, shard);
  // A run of another split is looked for before the claim and again after
  // it: of two that claim at once, each sees the other at its second look
  // at the latest, so they never both go on (both may give way).
  const auto overlapping = [&] { return OverlappingClaim(db_, command, day, shard, claim.host, pid, staleAfter); };
  const auto claimed = [&](const std::optional<DayRecord>& before) {
    if (auto other = overlapping()) {
      GiveBack(db_, claim, before);
      throw DayClaimedError(std::move(*other));
    }
    return claim;
  };
  if (auto other = overlapping()) throw DayClaimedError(std::move(*other));
  // Each round reads the row and changes it only if it is still as read; a
  // round that loses a race to another process reads again.
  for (int round = 0; round < 5; ++round) {
    const std::optional<DayRecord> current = ReadDayRow(db_, where);
    if (!current) {
      bool inserted = false;
      try {
        db_.ExecuteStatement(fmt::format(
            "insert into cuserver_days (command, day, shard, attempts, host, pid, started, outcome, heartbeat) "
            "values ({}, {}, {}, 1, {}, {}, {}, 'running', {})",
            SqlLiteral(command), SqlLiteral(day), SqlLiteral(shard), SqlLiteral(claim.host), pid, SqlLiteral(started),
            SqlLiteral(LedgerUtcNow())));
        inserted = true;
      } catch (const DatabaseError&) {
        if (!ReadDayRow(db_, where)) throw;  // not a row inserted first by another process
      }
      if (inserted) return claimed(current);
      continue;
    }
    std::string asRead = "(outcome is null or outcome<>'running')";
    if (current->outcome == DayOutcome::Running) {
      if (!ClaimAbandoned(*current, claim.host, pid, staleAfter)) throw DayClaimedError(*current);
      asRead = fmt::format("outcome='running' and host={} and pid={} and started={} and {}", SqlLiteral(current->host),
                           current->pid, SqlLiteral(current->started),
                           current->heartbeat.empty() ? std::string("heartbeat is null")
                                                      : "heartbeat=" + SqlLiteral(current->heartbeat));
    }
    db_.ExecuteStatement(fmt::format(
        "update cuserver_days set attempts=attempts+1, host={}, pid={}, started={}, ended=NULL, outcome='running', "
        "vehicles=0, computed=0, skipped=0, rows_written=0, rows_refused=0, reports_failed=0, detail=NULL, "
        "heartbeat={} where {} and {}",
        SqlLiteral(claim.host), pid, SqlLiteral(started), SqlLiteral(LedgerUtcNow()), where, asRead));
    if (HeldBy(ReadDayRow(db_, where), claim)) return claimed(current);
  }
  throw DatabaseError(fmt::format("{} {} (shard {}): its day ledger row kept changing while it was claimed", command,
                                  day, shard));
}

void Ledger::RefreshClaim(const DayClaim& claim) {
  db_.ExecuteStatement(fmt::format("update cuserver_days set heartbeat={} where {}", SqlLiteral(LedgerUtcNow()),
                                   ClaimCondition(claim)));
}

void Ledger::EndDay(const DayClaim& claim, DayOutcome outcome, const DayCounts& counts, std::string_view ended,
                    std::string_view detail) {
  db_.ExecuteStatement(fmt::format(
      "update cuserver_days set ended={}, outcome={}, vehicles={}, computed={}, skipped={}, rows_written={}, "
      "rows_refused={}, reports_failed={}, detail={} where {}",
      SqlLiteral(ended), SqlLiteral(DayOutcomeText(outcome)), counts.vehicles, counts.computed, counts.skipped,
      counts.rowsWritten, counts.rowsRefused, counts.reportsFailed, SqlLiteral(Clipped(detail, 1000)),
      ClaimCondition(claim)));
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

void Ledger::RequestCancelled(long long id, std::string_view ended, std::string_view detail) {
  RequestEnded(id, ended, kRequestCancelled, detail);
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

std::optional<std::string> Ledger::VehicleDayEntry(std::string_view command, std::string_view day,
                                                   std::string_view simId) {
  auto cursor = db_.OpenQuery(fmt::format(
      "select row_images from cuserver_vehicle_days where command={} and day={} and simid={}", SqlLiteral(command),
      SqlLiteral(day), SqlLiteral(simId)));
  std::optional<std::string> entry;
  if (!cursor->AtEnd()) {
    std::string images;
    cursor->ValueInto("row_images", images);
    entry = std::move(images);
  }
  cursor->Close();
  return entry;
}

namespace {

constexpr std::string_view kVehicleDayKey[] = {"command", "day", "simid"};
constexpr std::string_view kVehicleDayColumns[] = {"command", "day", "simid", "rows_written", "row_images"};
constexpr std::string_view kVehicleDayQualityColumns[] = {
    "command", "day",  "simid", "rows_written", "row_images", "fixes", "without_position",
    "other_day", "same_time", "backwards", "jumps"};

}  // namespace

std::vector<ReportRow> Ledger::ReplaceVehicleDayRows(std::string_view command, std::string_view day,
                                                     std::string_view simId, int rows,
                                                     std::string_view serialisedRows, bool hadEntry,
                                                     const TrackQuality* quality) const {
  std::vector<ReportRow> statements;
  std::vector<RowValue> key{RowValue::Text(std::string(command)), RowValue::Text(std::string(day)),
                            RowValue::Text(std::string(simId))};
  if (hadEntry) statements.push_back(ReportRow{RowAction::Delete, "cuserver_vehicle_days", {}, kVehicleDayKey, key});
  std::vector<RowValue> values = std::move(key);
  values.push_back(RowValue::Integer(rows));
  values.push_back(RowValue::Text(std::string(serialisedRows)));
  if (quality == nullptr) {
    statements.push_back(ReportRow{RowAction::Insert, "cuserver_vehicle_days", kVehicleDayColumns, {}, std::move(values)});
    return statements;
  }
  for (const int count : {quality->fixes, quality->withoutPosition, quality->otherDay, quality->sameTime,
                          quality->backwards, quality->jumps}) {
    values.push_back(RowValue::Integer(count));
  }
  statements.push_back(
      ReportRow{RowAction::Insert, "cuserver_vehicle_days", kVehicleDayQualityColumns, {}, std::move(values)});
  return statements;
}

std::vector<std::pair<std::string, TrackQuality>> Ledger::DayQuality(std::string_view day) {
  std::vector<std::pair<std::string, TrackQuality>> vehicles;
  auto cursor = db_.OpenQuery(fmt::format(
      "select simid, fixes, without_position, other_day, same_time, backwards, jumps from cuserver_vehicle_days "
      "where command={} and day={} and fixes is not null order by simid",
      SqlLiteral(kDayRunCommand), SqlLiteral(day)));
  for (; !cursor->AtEnd(); cursor->Next()) {
    TrackQuality quality;
    quality.fixes = IntOf(cursor->Value("fixes"));
    quality.withoutPosition = IntOf(cursor->Value("without_position"));
    quality.otherDay = IntOf(cursor->Value("other_day"));
    quality.sameTime = IntOf(cursor->Value("same_time"));
    quality.backwards = IntOf(cursor->Value("backwards"));
    quality.jumps = IntOf(cursor->Value("jumps"));
    vehicles.emplace_back(TextOf(cursor->Value("simid")), quality);
  }
  cursor->Close();
  return vehicles;
}

std::optional<TrackQuality> Ledger::DayQualityTotal(std::string_view day) {
  auto cursor = db_.OpenQuery(fmt::format(
      "select count(fixes) as n, sum(fixes) as fixes, sum(without_position) as without_position, "
      "sum(other_day) as other_day, sum(same_time) as same_time, sum(backwards) as backwards, sum(jumps) as jumps "
      "from cuserver_vehicle_days where command={} and day={}",
      SqlLiteral(kDayRunCommand), SqlLiteral(day)));
  std::optional<TrackQuality> total;
  if (!cursor->AtEnd() && IntOf(cursor->Value("n")) > 0) {
    total.emplace();
    total->fixes = IntOf(cursor->Value("fixes"));
    total->withoutPosition = IntOf(cursor->Value("without_position"));
    total->otherDay = IntOf(cursor->Value("other_day"));
    total->sameTime = IntOf(cursor->Value("same_time"));
    total->backwards = IntOf(cursor->Value("backwards"));
    total->jumps = IntOf(cursor->Value("jumps"));
  }
  cursor->Close();
  return total;
}

std::string LedgerNow() { return TimeText(std::time(nullptr), false); }

std::string LedgerUtcNow() { return TimeText(std::time(nullptr), true); }

DayClaimedError::DayClaimedError(DayRecord holder)
    : std::runtime_error(fmt::format(
          "{} {} (shard {}) is being computed by process {} on {} since {}; it is not computed twice at once",
          holder.command, holder.day, holder.shard, holder.pid, holder.host, holder.started)),
      holder_(std::move(holder)) {}

ClaimTiming ClaimTimingFor(const ConnectionSettings& settings) {
  const std::chrono::seconds statementLimit(settings.statementTimeoutSeconds > 0 ? settings.statementTimeoutSeconds
                                                                                 : 900);
  ClaimTiming timing;
  timing.staleAfter = std::max(2 * statementLimit + std::chrono::seconds(60), std::chrono::seconds(300));
  timing.heartbeatEvery = std::min(std::chrono::seconds(60), timing.staleAfter / 10);
  return timing;
}

bool ClaimAbandoned(const DayRecord& holder, std::string_view host, long pid, std::chrono::seconds staleAfter) {
  if (holder.host == host && (holder.pid == pid || ProcessGone(holder.pid))) return true;
  const std::time_t staleBefore = std::time(nullptr) - static_cast<std::time_t>(staleAfter.count());
  if (holder.heartbeat.empty()) return holder.started < TimeText(staleBefore, false);
  return holder.heartbeat < TimeText(staleBefore, true);
}

ClaimHeartbeat::ClaimHeartbeat(ConnectionSettings connection, DayClaim claim, std::chrono::seconds interval)
    : connection_(std::move(connection)), claim_(std::move(claim)), interval_(interval),
      thread_([this] { Beat(); }) {}

ClaimHeartbeat::~ClaimHeartbeat() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void ClaimHeartbeat::Beat() {
  std::optional<ReportDatabase> db;
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, interval_, [this] { return stop_; })) {
    lock.unlock();
    try {
      if (!db) {
        db.emplace();
        db->OpenReportSession(connection_);
      }
      Ledger(*db).RefreshClaim(claim_);
    } catch (const std::exception&) {
      db.reset();  // a new session at the next beat
    }
    lock.lock();
  }
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

}  // namespace cuserver
