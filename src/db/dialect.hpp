#pragma once

#include <string>
#include <string_view>

#include "db/report_tables.hpp"
#include "db/session.hpp"

namespace cuserver {

// The SQL a table definition is written in. Statements other than table
// definitions are the same on every backend.
enum class SqlDialect { Oracle, Sqlite, Postgresql };

// An ODBC data source counts as Oracle unless its driver says PostgreSQL or SQLite.
SqlDialect DialectOf(Backend backend);
SqlDialect DialectOf(ReportDatabase& db);

// The one place where Oracle column types become SQLite's and PostgreSQL's:
// VARCHAR2(n byte) -> VARCHAR(n), NUMBER(p,s) -> NUMERIC(p,s),
// NUMBER(p) -> NUMERIC(p), and on PostgreSQL DATE -> TIMESTAMP. Everything
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
