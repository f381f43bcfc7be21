// Kept apart: SOCI's SQLite header puts <sqlite3.h> into a namespace of its
// own, which clashes with the plain <sqlite3.h> the SQLite cursor needs.
#include <soci/odbc/soci-odbc.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include "db/cursors.hpp"

namespace cuserver {

::sqlite3* SqliteConnection(soci::session& session) {
  auto* backend = static_cast<soci::sqlite3_session_backend*>(session.get_backend());
  return reinterpret_cast<::sqlite3*>(backend->conn_);
}

OdbcDbms OdbcDbmsOf(soci::session& session) {
  if (session.get_backend_name() != "odbc") return OdbcDbms::Other;
  auto* backend = static_cast<soci::odbc_session_backend*>(session.get_backend());
  switch (backend->get_database_product()) {
    case soci::odbc_session_backend::prod_oracle: return OdbcDbms::Oracle;
    case soci::odbc_session_backend::prod_postgresql: return OdbcDbms::Postgresql;
    case soci::odbc_session_backend::prod_sqlite: return OdbcDbms::Sqlite;
    default: return OdbcDbms::Other;
  }
}

}  // namespace cuserver
