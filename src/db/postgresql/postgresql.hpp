#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/session.hpp"

namespace soci {
class session;
}

namespace cuserver {

// A query on libpq's simple protocol: one round trip, where SOCI's prepared
// statements take three (prepare, execute, deallocate). The result is held
// whole, as SOCI's PostgreSQL backend holds it. Null when a column has a type
// it does not read (the caller then goes through SOCI). Throws DatabaseError
// with the server's reason.
std::unique_ptr<Cursor> OpenPostgresCursor(soci::session& session, const std::string& statement);
// The same with the texts bound to the statement's `?` placeholders; a text
// with a NUL byte is refused (RowRefused).
std::unique_ptr<Cursor> OpenPostgresCursor(soci::session& session, const std::string& statement,
                                           const std::vector<std::string>& texts);

// The same query with the values in binary, for reading many rows: no number
// is printed by the server and parsed back. Null when a column has a type
// whose binary value this does not read as its text reads (the caller then
// asks for text). Throws DatabaseError with the server's reason.
std::unique_ptr<Cursor> OpenPostgresBinaryCursor(soci::session& session, const std::string& statement);
std::unique_ptr<Cursor> OpenPostgresBinaryCursor(soci::session& session, const std::string& statement,
                                                 const std::vector<std::string>& texts);

// The statement that limits a PostgreSQL session's statements to `seconds`
// (0: no limit), natively or through ODBC.
std::string PostgresStatementTimeout(int seconds);

}  // namespace cuserver
