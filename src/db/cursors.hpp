#pragma once

#include <memory>
#include <string>

#include "db/session.hpp"

namespace soci {
class session;
}
struct sqlite3;

namespace cuserver {

// A cursor that fetches one row at a time through SOCI's dynamic row.
// Throws DatabaseError when the statement cannot be run.
std::unique_ptr<Cursor> OpenSociCursor(soci::session& session, const std::string& statement);

// A cursor on SQLite's own statement API, reading each value by the type it
// is stored with (SOCI's SQLite rows go by the declared type and turn a
// large INTEGER or a text in a REAL column into a wrong number).
std::unique_ptr<Cursor> OpenSqliteCursor(::sqlite3* connection, const std::string& statement);

// A query on libpq's simple protocol: one round trip, where SOCI's prepared
// statements take three (prepare, execute, deallocate). The result is held
// whole, as SOCI's PostgreSQL backend holds it. Null when a column has a type
// it does not read (the caller then goes through SOCI). Throws DatabaseError
// with the server's reason.
std::unique_ptr<Cursor> OpenPostgresCursor(soci::session& session, const std::string& statement);

// The same query with the values in binary, for reading many rows: no number
// is printed by the server and parsed back. Null when a column has a type
// whose binary value this does not read as its text reads (the caller then
// asks for text). Throws DatabaseError with the server's reason.
std::unique_ptr<Cursor> OpenPostgresBinaryCursor(soci::session& session, const std::string& statement);

// The SQLite connection under a SOCI session of the sqlite3 backend.
::sqlite3* SqliteConnection(soci::session& session);

// The DBMS a SOCI session of the odbc backend reaches, as the driver names it.
enum class OdbcDbms { Oracle, Postgresql, Sqlite, Mysql, Other };
OdbcDbms OdbcDbmsOf(soci::session& session);
// The driver's own name of that DBMS (SQL_DBMS_NAME); empty when it gives none.
std::string OdbcDbmsName(soci::session& session);

}  // namespace cuserver
