#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/report_tables.hpp"
#include "db/session.hpp"

namespace cuserver {

// The dialect of a backend; ODBC's is Oracle's until the session knows better.
SqlDialect DialectOf(Backend backend);
// The dialect of the open session (ReportDatabase::Dialect).
SqlDialect DialectOf(ReportDatabase& db);

// The dialect of a DBMS as an ODBC driver names it (SQL_DBMS_NAME):
// Oracle, PostgreSQL, MySQL or MariaDB, SQLite; nullopt for any other.
std::optional<SqlDialect> DialectOfDbmsName(std::string_view dbmsName);

// The dialect named by the Dialect key (oracle, postgresql, mysql, sqlite,
// without regard to case); nullopt for any other name.
std::optional<SqlDialect> ParseDialectName(std::string_view name);

// The one place where Oracle column types become SQLite's, PostgreSQL's and
// MySQL's: VARCHAR2(n byte) -> VARCHAR(n), NUMBER(p,s) -> NUMERIC(p,s),
// NUMBER(p) -> NUMERIC(p), CLOB -> TEXT, on PostgreSQL DATE -> TIMESTAMP,
// on MySQL NUMBER(p,s) -> DECIMAL(p,s), NUMBER(p) -> DECIMAL(p),
// DATE -> DATETIME and CLOB -> LONGTEXT (its TEXT holds 64 KiB). Everything
// else, blanks and tabs included, stays as written.
std::string MapOracleDdl(std::string_view oracleText, SqlDialect dialect);

// The template with its "%s" replaced by the table name.
std::string WithTableName(std::string_view templateText, std::string_view tableName);

// "select * from <name> ": opens on any table that exists, reading no row.
std::string ProbeStatement(std::string_view tableName);

// Runs a statement that makes a table (or its index). Throws DatabaseError
// naming the table and the statement along with the driver's reason.
void ExecuteDdl(ReportDatabase& db, std::string_view table, const std::string& statement);

// True when the probe of the table opens.
bool TableExists(ReportDatabase& db, std::string_view tableName);

}  // namespace cuserver
