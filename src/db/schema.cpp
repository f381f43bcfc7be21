#include "db/schema.hpp"

#include <string_view>

#include "db/dialect.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

struct TableDefinition {
  std::string_view name;
  std::string_view columns;  // "%n" is a decimal number column
};

// The tracking service's tables as this system uses them. Types are ones all
// three databases accept; "%n" becomes each one's floating type.
constexpr TableDefinition kServiceTables[] = {
    {"vehicleinfo",
     "simid VARCHAR(20), licenseplate VARCHAR(20), motorcadeid VARCHAR(20), alarmspeed %n, "
     "highalarmspeed %n, vehicletype VARCHAR(40), drivername VARCHAR(40), telephone VARCHAR(20), "
     "remark VARCHAR(100)"},
    {"motorcade", "motorcadeid VARCHAR(20), motorcadename VARCHAR(100)"},
    {"roadlightmapinfo",
     "mainnumber VARCHAR(20), senumber VARCHAR(20), thirdnumber VARCHAR(20), roadname VARCHAR(100), "
     "belongarea VARCHAR(100)"},
    {"roadlightmapinfomain",
     "mainnumber VARCHAR(20), senumber VARCHAR(20), thirdnumber VARCHAR(20), roadname VARCHAR(100), "
     "belongarea VARCHAR(100)"},
    {"roadlightmapinfose",
     "mainnumber VARCHAR(20), senumber VARCHAR(20), thirdnumber VARCHAR(20), roadname VARCHAR(100), "
     "belongarea VARCHAR(100)"},
    {"tireddriver", "SIMID VARCHAR(20), begintime VARCHAR(20), ENDTIME VARCHAR(20), addtime VARCHAR(20)"},
    {"CONTACTALARM", "SIMID VARCHAR(20), BEGINTIME VARCHAR(20), ENDTIME VARCHAR(20)"},
    {"LINEALARMREPROT",
     "SIMID VARCHAR(20), BEGINTIME VARCHAR(20), ENDTIME VARCHAR(20), TOTTIME VARCHAR(20), REMARK VARCHAR(100)"},
    {"areaspeed", "simid VARCHAR(20), areakey VARCHAR(40), areaname VARCHAR(100), speedlimit VARCHAR(20)"},
};

// PostgreSQL's REAL is single precision: 3.704 stored in it no longer equals 3.704.
std::string_view DecimalNumberType(SqlDialect dialect) {
  return dialect == SqlDialect::Sqlite ? "REAL" : "DOUBLE PRECISION";
}

std::string Columns(std::string_view columns, SqlDialect dialect) {
  std::string out;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i] == '%' && i + 1 < columns.size() && columns[i + 1] == 'n') {
      out += DecimalNumberType(dialect);
      ++i;
    } else {
      out.push_back(columns[i]);
    }
  }
  return out;
}

void CreateTable(ReportDatabase& db, std::string_view name, std::string_view columns, SqlDialect dialect) {
  if (TableExists(db, name)) return;
  ExecuteDdl(db, name, "CREATE TABLE " + std::string(name) + " (" + Columns(columns, dialect) + ")");
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ServiceTableStatements(SqlDialect dialect) {
  std::vector<std::pair<std::string, std::string>> statements;
  for (const auto& table : kServiceTables) {
    statements.emplace_back(table.name,
                            "CREATE TABLE " + std::string(table.name) + " (" + Columns(table.columns, dialect) + ")");
  }
  return statements;
}

void InitDatabase(ReportDatabase& db) {
  const SqlDialect dialect = DialectOf(db);
  for (const auto& table : kServiceTables) CreateTable(db, table.name, table.columns, dialect);
}

void CreateGpsDayTable(ReportDatabase& db, const std::string& dayKey) {
  const std::string table = "GPSDATA" + dayKey;
  if (!IsPlainTableName(table)) throw DatabaseError("\"" + dayKey + "\" is not a day key of a GPS day table");
  if (TableExists(db, table)) return;
  const SqlDialect dialect = DialectOf(db);
  CreateTable(db, table,
              "SIMID VARCHAR(20), time VARCHAR(19), longitude %n, latitude %n, speed %n, ALARMSTATE VARCHAR(40)",
              dialect);
  db.ExecuteStatement("CREATE INDEX " + table + "_simid_time ON " + table + " (SIMID, time)");
}

}  // namespace cuserver
