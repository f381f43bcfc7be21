#include "db/report_tables.hpp"

#include "db/dialect.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {

std::string CreateTableStatement(ReportTableKind kind, const std::string& tableName, Backend backend) {
  return WithTableName(MapOracleDdl(OracleCreateTableTemplate(kind), DialectOf(backend)), tableName);
}

void EnsureReportTable(ReportDatabase& db, ReportTableKind kind, const std::string& tableName) {
  if (!IsPlainTableName(tableName)) return;
  try {
    if (TableExists(db, tableName)) return;
    // The dialect of the DBMS actually reached: an ODBC data source may be a
    // PostgreSQL server as well as Oracle.
    db.ExecuteStatement(WithTableName(MapOracleDdl(OracleCreateTableTemplate(kind), DialectOf(db)), tableName));
  } catch (...) {
    // A table that could not be made shows later as refused rows.
  }
}

}  // namespace cuserver
