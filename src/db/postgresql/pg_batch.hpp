#pragma once

#include <string>
#include <optional>
#include <utility>
#include <vector>

#include "db/session.hpp"

namespace cuserver {

// Runs several statements, separated by ';', in one round trip to a
// PostgreSQL session; the server runs them as one transaction, so a refused
// one leaves none of them written. Throws DatabaseError with its reason.
void PostgresExecuteMany(ReportDatabase& db, const std::string& statements);

// Prepares `sql` under `name` on the session's connection (for EXECUTE).
// Throws DatabaseError with the server's reason.
void PostgresPrepare(ReportDatabase& db, const std::string& name, const std::string& sql);

// A statement of a pipeline: its text with $1, $2 ... for its parameters,
// or the name of a statement prepared on the connection; a parameter nullopt
// is NULL. The server gives each parameter the type its place needs, as it
// does a quoted literal.
struct PipelinedStatement {
  std::string text;
  std::string prepared;  // when not empty, the prepared statement run in place of text
  std::vector<std::optional<std::string>> parameters;
};

// Sends the statements in one round trip (libpq's pipeline mode) and reads
// their results. The first statement the server refuses ends the pipeline:
// the statements after it are not run, and DatabaseError is thrown with the
// server's reason. Statements run in the transaction state they find, so a
// caller that sent BEGIN rolls back after a failure.
void PostgresPipeline(ReportDatabase& db, const std::vector<PipelinedStatement>& statements);

// Runs one statement with its parameters. Throws DatabaseError with the
// server's reason.
void PostgresExecuteParams(ReportDatabase& db, const PipelinedStatement& statement);

// The session's connection as it is now (its handle and server process):
// another value once it was opened again, when what was prepared on it is
// gone.
std::pair<const void*, int> PostgresConnectionOf(ReportDatabase& db);

}  // namespace cuserver
