// Kept apart: SOCI's SQLite header puts <sqlite3.h> into a namespace of its
// own, which clashes with the plain <sqlite3.h> the SQLite cursor needs.
#include <soci/odbc/soci-odbc.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>
#include <sql.h>
#include <sqlext.h>

#include "db/dialect.hpp"

#include "db/cursors.hpp"

namespace cuserver {

::sqlite3* SqliteConnection(soci::session& session) {
  auto* backend = static_cast<soci::sqlite3_session_backend*>(session.get_backend());
  return reinterpret_cast<::sqlite3*>(backend->conn_);
}

std::string OdbcDbmsName(soci::session& session) {
  if (session.get_backend_name() != "odbc") return {};
  auto* backend = static_cast<soci::odbc_session_backend*>(session.get_backend());
  SQLCHAR name[256] = {};
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLGetInfo(backend->hdbc_, SQL_DBMS_NAME, name, sizeof name, &length);
  if (!SQL_SUCCEEDED(rc)) return {};
  return std::string(reinterpret_cast<const char*>(name));
}

OdbcDbms OdbcDbmsOf(soci::session& session) {
  if (session.get_backend_name() != "odbc") return OdbcDbms::Other;
  const auto dialect = DialectOfDbmsName(OdbcDbmsName(session));
  if (!dialect) return OdbcDbms::Other;
  switch (*dialect) {
    case SqlDialect::Oracle: return OdbcDbms::Oracle;
    case SqlDialect::Postgresql: return OdbcDbms::Postgresql;
    case SqlDialect::Mysql: return OdbcDbms::Mysql;
    case SqlDialect::Sqlite: return OdbcDbms::Sqlite;
  }
  return OdbcDbms::Other;
}

}  // namespace cuserver
