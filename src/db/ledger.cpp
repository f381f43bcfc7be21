#include "db/ledger.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <ctime>

#include "db/dialect.hpp"
#include "db/ledger_internal.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

struct LedgerTable {
  std::string_view name;
  std::string_view columns;  // "%t" is each database's type for long text (Oracle's CLOB as mapped)
};

constexpr std::array<LedgerTable, 5> kLedgerTables{{
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
    {"cuserver_deliveries",
     "period VARCHAR(8) NOT NULL PRIMARY KEY, attempts INTEGER, last_attempt VARCHAR(19), outcome VARCHAR(20), "
     "detail VARCHAR(1000)"},
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

}  // namespace

namespace ledger_internal {

std::string Clipped(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // not inside a UTF-8 character
  return std::string(text.substr(0, cut));
}

int IntOf(const std::optional<std::string>& text) { return text ? std::atoi(text->c_str()) : 0; }
std::string TextOf(const std::optional<std::string>& text) { return text.value_or(std::string()); }

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

}  // namespace ledger_internal

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

std::string LedgerNow() { return ledger_internal::TimeText(std::time(nullptr), false); }

std::string LedgerUtcNow() { return ledger_internal::TimeText(std::time(nullptr), true); }

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

}  // namespace cuserver
