#pragma once

#include <string>
#include <utility>

#include "db/session.hpp"

namespace cuserver {

// Runs several statements, separated by ';', in one round trip to a
// PostgreSQL session; the server runs them as one transaction, so a refused
// one leaves none of them written. Throws DatabaseError with its reason.
void PostgresExecuteMany(ReportDatabase& db, const std::string& statements);

// Prepares `sql` under `name` on the session's connection (for EXECUTE).
// Throws DatabaseError with the server's reason.
void PostgresPrepare(ReportDatabase& db, const std::string& name, const std::string& sql);

// The session's connection as it is now (its handle and server process):
// another value once it was opened again, when what was prepared on it is
// gone.
std::pair<const void*, int> PostgresConnectionOf(ReportDatabase& db);

}  // namespace cuserver
