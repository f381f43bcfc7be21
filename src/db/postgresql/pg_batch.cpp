// Kept apart: SOCI's PostgreSQL header brings libpq into every includer.
#include "db/postgresql/pg_batch.hpp"

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

// The failure of a result (null when the call had none), with the server's
// SQLSTATE; a connection that is gone is lost whatever the result says.
DatabaseError FailureOf(PGconn* conn, const PGresult* result) {
  std::string reason = result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(conn);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  DatabaseErrorKind kind = state != nullptr ? KindOfSqlState(state) : DatabaseErrorKind::Other;
  if (PQstatus(conn) != CONNECTION_OK) kind = DatabaseErrorKind::ConnectionLost;
  if (reason.empty()) reason = "the connection was lost";
  return DatabaseError(reason, std::nullopt, kind, state != nullptr ? state : "");
}

void ThrowUnlessDone(PGconn* conn, const Result& result) {
  const auto status = PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
  throw FailureOf(conn, result.get());
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

namespace {

// The parameters of a statement as libpq takes them; the texts stay the
// statement's.
struct Parameters {
  explicit Parameters(const PipelinedStatement& statement) {
    values.reserve(statement.parameters.size());
    for (const auto& parameter : statement.parameters) values.push_back(parameter ? parameter->c_str() : nullptr);
  }
  int Count() const { return static_cast<int>(values.size()); }
  const char* const* Values() const { return values.data(); }
  std::vector<const char*> values;
};

bool Send(PGconn* conn, const PipelinedStatement& statement) {
  const Parameters parameters(statement);
  if (!statement.prepared.empty()) {
    return PQsendQueryPrepared(conn, statement.prepared.c_str(), parameters.Count(), parameters.Values(), nullptr,
                               nullptr, 0) == 1;
  }
  return PQsendQueryParams(conn, statement.text.c_str(), parameters.Count(), nullptr, parameters.Values(), nullptr,
                           nullptr, 0) == 1;
}

}  // namespace

void PostgresPipeline(ReportDatabase& db, const std::vector<PipelinedStatement>& statements) {
  PGconn* conn = Connection(db);
  std::optional<DatabaseError> failure;
  db.Guard().Run([&] {
    if (PQenterPipelineMode(conn) != 1) {
      failure = FailureOf(conn, nullptr);
      return 0;
    }
    bool sent = true;
    for (const PipelinedStatement& statement : statements) {
      if (!Send(conn, statement)) {
        sent = false;
        break;
      }
    }
    if (!sent || PQpipelineSync(conn) != 1) {
      // The connection failed under the sending: nothing more will come.
      failure = FailureOf(conn, nullptr);
      return 0;
    }
    // Each statement's result, then its end (no result); the sync's result
    // closes it all. Two ends in a row: libpq has nothing more to give, the
    // connection went under the reading.
    bool ended = false;
    for (;;) {
      Result result(PQgetResult(conn), &PQclear);
      if (!result) {
        if (ended || PQstatus(conn) != CONNECTION_OK) {
          if (!failure || failure->Kind() != DatabaseErrorKind::ConnectionLost) {
            failure = FailureOf(conn, nullptr);
            failure = DatabaseError(failure->what(), std::nullopt, DatabaseErrorKind::ConnectionLost);
          }
          return 0;
        }
        ended = true;
        continue;
      }
      ended = false;
      const auto status = PQresultStatus(result.get());
      if (status == PGRES_PIPELINE_SYNC) break;
      if (status == PGRES_FATAL_ERROR && !failure) failure = FailureOf(conn, result.get());
    }
    PQexitPipelineMode(conn);
    return 0;
  });
  if (failure) throw *failure;
}

void PostgresExecuteParams(ReportDatabase& db, const PipelinedStatement& statement) {
  PGconn* conn = Connection(db);
  const Parameters parameters(statement);
  Result result = db.Guard().Run([&] {
    if (!statement.prepared.empty()) {
      return Result(PQexecPrepared(conn, statement.prepared.c_str(), parameters.Count(), parameters.Values(), nullptr,
                                   nullptr, 0),
                    &PQclear);
    }
    return Result(PQexecParams(conn, statement.text.c_str(), parameters.Count(), nullptr, parameters.Values(), nullptr,
                               nullptr, 0),
                  &PQclear);
  });
  ThrowUnlessDone(conn, result);
}

std::pair<const void*, int> PostgresConnectionOf(ReportDatabase& db) {
  PGconn* conn = Connection(db);
  return {conn, PQbackendPID(conn)};
}

}  // namespace cuserver
