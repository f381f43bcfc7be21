// Kept apart: SOCI's PostgreSQL header brings libpq into every includer.
#include "db/pg_batch.hpp"

#include <libpq-fe.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>

#include <memory>

#include "db/statement_guard.hpp"

namespace cuserver {

void PostgresExecuteMany(ReportDatabase& db, const std::string& statements) {
  if (db.GetBackend() != Backend::Postgresql) throw DatabaseError("a batch of statements needs a PostgreSQL session");
  PGconn* conn = static_cast<soci::postgresql_session_backend*>(db.Native().get_backend())->conn_;
  using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;
  Result result = db.Guard().Run([&] { return Result(PQexec(conn, statements.c_str()), &PQclear); });
  const auto status = PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
  std::string reason = result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
  throw DatabaseError(reason);
}

}  // namespace cuserver
