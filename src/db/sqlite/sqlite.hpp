#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/session.hpp"

namespace soci {
class session;
}
struct sqlite3;

namespace cuserver {

// A cursor on SQLite's own statement API, reading each value by the type it
// is stored with (SOCI's SQLite rows go by the declared type and turn a
// large INTEGER or a text in a REAL column into a wrong number).
std::unique_ptr<Cursor> OpenSqliteCursor(::sqlite3* connection, const std::string& statement);
// The same with the texts bound to the statement's `?` placeholders.
std::unique_ptr<Cursor> OpenSqliteCursor(::sqlite3* connection, const std::string& statement,
                                         const std::vector<std::string>& texts);

// The SQLite connection under a SOCI session of the sqlite3 backend.
::sqlite3* SqliteConnection(soci::session& session);

}  // namespace cuserver
