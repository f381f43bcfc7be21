// Kept apart: SOCI's SQLite header puts <sqlite3.h> into a namespace of its
// own, which clashes with the plain <sqlite3.h> the rest of this folder needs.
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include "db/sqlite/sqlite.hpp"

namespace cuserver {

::sqlite3* SqliteConnection(soci::session& session) {
  auto* backend = static_cast<soci::sqlite3_session_backend*>(session.get_backend());
  return reinterpret_cast<::sqlite3*>(backend->conn_);
}

}  // namespace cuserver
