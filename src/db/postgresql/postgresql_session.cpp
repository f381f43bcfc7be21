// Kept apart: SOCI's PostgreSQL header brings libpq into every includer.
#include <fmt/format.h>
#include <libpq-fe.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "db/backend_session.hpp"
#include "db/cursors.hpp"
#include "db/driver_error.hpp"
#include "db/postgresql/postgresql.hpp"
#include "db/statement_guard.hpp"
#include "db/vehicle_day_store.hpp"

namespace cuserver {

std::unique_ptr<RunStore> OpenPostgresRunStore(ReportDatabase& db);

namespace {

using PgResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

PGconn* PostgresConnection(soci::session& sql) {
  return static_cast<soci::postgresql_session_backend*>(sql.get_backend())->conn_;
}

void LimitPostgresStatements(soci::session& sql, StatementGuard& guard, int seconds) {
  PGconn* conn = PostgresConnection(sql);
  guard.Watch(PQsocket(conn), seconds);
  const std::string statement = PostgresStatementTimeout(seconds);
  PgResult result = guard.Run([&] { return PgResult(PQexec(conn, statement.c_str()), &PQclear); });
  if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
    std::string reason = result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    throw DatabaseError("setting the statement timeout: " + reason);
  }
}

// Every statement runs under the session's watch, which ends it when the
// server does not answer.
class PostgresSession : public BackendSession {
 public:
  PostgresSession(std::unique_ptr<soci::session> sql, StatementGuard& guard)
      : BackendSession(std::move(sql)), guard_(guard) {}

  SqlDialect Dialect() const override { return SqlDialect::Postgresql; }

  bool Alive() override {
    try {
      PGconn* conn = PostgresConnection(Sql());
      if (PQstatus(conn) != CONNECTION_OK) return false;
      PgResult result = guard_.Run([&] { return PgResult(PQexec(conn, "SELECT 1"), &PQclear); });
      return PQresultStatus(result.get()) == PGRES_TUPLES_OK;
    } catch (...) {
      return false;
    }
  }

  std::unique_ptr<Cursor> OpenQuery(const std::string& statement) override {
    return guard_.Run([&] {
      if (auto cursor = OpenPostgresCursor(Sql(), statement)) return cursor;
      return OpenSociCursor(Sql(), statement);
    });
  }

  std::unique_ptr<Cursor> OpenBulkQuery(const std::string& statement) override {
    if (!bulkAsText_) {
      auto cursor = guard_.Run([&] { return OpenPostgresBinaryCursor(Sql(), statement); });
      if (cursor) return cursor;
      // A column that binary values do not serve: the session's next ones
      // ask for text straight away.
      bulkAsText_ = true;
    }
    return OpenQuery(statement);
  }

  std::unique_ptr<Cursor> OpenBoundQuery(const std::string& statement, const std::vector<std::string>& texts) override {
    return guard_.Run([&] {
      if (auto cursor = OpenPostgresCursor(Sql(), statement, texts)) return cursor;
      return OpenSociCursor(Sql(), statement, texts);
    });
  }

  std::unique_ptr<Cursor> OpenBoundBulkQuery(const std::string& statement,
                                             const std::vector<std::string>& texts) override {
    if (!bulkAsText_) {
      auto cursor = guard_.Run([&] { return OpenPostgresBinaryCursor(Sql(), statement, texts); });
      if (cursor) return cursor;
      bulkAsText_ = true;
    }
    return OpenBoundQuery(statement, texts);
  }

  // The statement of a cursor that holds no rows.
  void ExecuteBound(const std::string& statement, const std::vector<std::string>& texts) override {
    guard_.Run([&] { OpenPostgresCursor(Sql(), statement, texts); });
  }

  void Execute(const std::string& statement) override {
    guard_.Run([&] {
      try {
        Sql() << statement;
      } catch (...) {
        RethrowAsDatabaseError();
      }
    });
  }

  const char* StoredOrderColumn() const override { return "ctid"; }
  bool RefusalEndsTransaction() const override { return true; }

  bool TableExists(const std::string& probe) override {
    // libpq would bring the whole table over to run the probe; preparing it
    // is enough for the server to say whether the table exists.
    try {
      guard_.Run([&] { soci::statement prepared = (Sql().prepare << probe); });
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }

  std::unique_ptr<RunStore> OpenRunStore(ReportDatabase& db, Diagnostics&) override {
    return OpenPostgresRunStore(db);
  }

 private:
  StatementGuard& guard_;
  bool bulkAsText_ = false;
};

}  // namespace

std::string PostgresStatementTimeout(int seconds) {
  return "SET statement_timeout = " +
         std::to_string(std::clamp<std::int64_t>(std::int64_t{seconds} * 1000, 0, INT_MAX));
}

std::unique_ptr<BackendSession> OpenPostgresSession(const ConnectionSettings& settings, StatementGuard& guard) {
  auto session = std::make_unique<PostgresSession>(OpenSociSession(settings), guard);
  try {
    LimitPostgresStatements(session->Sql(), guard, settings.statementTimeoutSeconds);
  } catch (...) {
    guard.Unwatch();
    throw;
  }
  return session;
}

}  // namespace cuserver
