#pragma once

#include <map>
#include <string>

#include "db/row_images.hpp"
#include "db/session.hpp"

namespace soci {
class session;
}

namespace cuserver {

// Sets up a MySQL or MariaDB session (natively or through ODBC): a
// backslash in a quoted value is itself, as on every other database
// (NO_BACKSLASH_ESCAPES added to the server's sql_mode); transactions read
// committed rows, as on Oracle and PostgreSQL; and its statements
// are limited to `seconds`, 0 being no limit, by MariaDB's
// max_statement_time or MySQL's max_execution_time (which limits its
// queries only), and the wait for a row lock by innodb_lock_wait_timeout.
// Throws DatabaseError.
void SetUpMysqlSession(soci::session& sql, int seconds);

// The column types of a table of the session's database as a written value
// is matched against them: texts as they are; DECIMAL and DATETIME columns
// through a cast to their own type, since MySQL compares a DECIMAL with a
// text as two doubles (3.70 stored is not 3.704 written); an empty text in a
// column that is not a text stands for NULL. Column name folded to lower case
// -> type; empty for an unknown table. Throws DatabaseError.
std::map<std::string, ColumnType> MysqlColumnTypes(ReportDatabase& db, const std::string& table);

// Whether the statement that just failed with `error` took the session's
// whole transaction back, as MySQL does on a deadlock, or left it waiting
// in vain for a lock: then no statement of the transaction stands, and its
// later statements would run in a new one.
bool MysqlTransactionLost(ReportDatabase& db, const DatabaseError& error);

// Whether the table of the session's database has an index of that name.
bool MysqlIndexExists(ReportDatabase& db, const std::string& table, const std::string& index);

}  // namespace cuserver
