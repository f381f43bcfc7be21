#pragma once

#include <string>

#include "db/session.hpp"

namespace cuserver {

// Runs several statements, separated by ';', in one round trip to a
// PostgreSQL session; the server runs them as one transaction, so a refused
// one leaves none of them written. Throws DatabaseError with its reason.
void PostgresExecuteMany(ReportDatabase& db, const std::string& statements);

}  // namespace cuserver
