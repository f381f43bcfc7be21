// Kept apart: SOCI's PostgreSQL header brings libpq into every includer.
#include "db/pg_batch.hpp"

#include <libpq-fe.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>

#include <memory>

#include "db/statement_guard.hpp"

namespace cuserver {

namespace {

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

PGconn* Connection(ReportDatabase& db) {
  if (db.GetBackend() != Backend::Postgresql) throw DatabaseError("a batch of statements needs a PostgreSQL session");
  return static_cast<soci::postgresql_session_backend*>(db.Native().get_backend())->conn_;
}

void ThrowUnlessDone(PGconn* conn, const Result& result) {
  const auto status = PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
  std::string reason = result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
  throw DatabaseError(reason);
}

}  // namespace

void PostgresExecuteMany(ReportDatabase& db, const std::string& statements) {
  PGconn* conn = Connection(db);
  Result result = db.Guard().Run([&] { return Result(PQexec(conn, statements.c_str()), &PQclear); });
  ThrowUnlessDone(conn, result);
}

void PostgresPrepare(ReportDatabase& db, const std::string& name, const std::string& sql) {
  PGconn* conn = Connection(db);
  Result result =
      db.Guard().Run([&] { return Result(PQprepare(conn, name.c_str(), sql.c_str(), 0, nullptr), &PQclear); });
  ThrowUnlessDone(conn, result);
}

std::pair<const void*, int> PostgresConnectionOf(ReportDatabase& db) {
  PGconn* conn = Connection(db);
  return {conn, PQbackendPID(conn)};
}

}  // namespace cuserver
