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

PostgresStatementBatch::PostgresStatementBatch(ReportDatabase& db, Diagnostics& diagnostics,
                                               std::size_t maxStatements)
    : db_(db), diagnostics_(diagnostics), maxStatements_(maxStatements) {}

PostgresStatementBatch::~PostgresStatementBatch() {
  try {
    Flush();
  } catch (...) {
    // Flush records its own failures; nothing may leave a destructor.
  }
}

bool PostgresStatementBatch::Execute(const std::string& statement, std::string_view table, std::string_view simId) {
  rows_.push_back({std::string(table), std::string(simId), text_.size(), statement.size()});
  text_ += statement;
  text_ += ";\n";
  if (rows_.size() >= maxStatements_) Flush();
  return true;
}

void PostgresStatementBatch::Flush() {
  if (rows_.empty()) return;
  std::string text = std::move(text_);
  std::vector<Row> rows = std::move(rows_);
  text_.clear();
  rows_.clear();
  try {
    PostgresExecuteMany(db_, text);
    return;
  } catch (const std::exception&) {
    // Which statement was refused, and why, is found by sending each alone.
  }
  for (const Row& row : rows) {
    try {
      db_.ExecuteStatement(text.substr(row.begin, row.size));
    } catch (const DatabaseError& error) {
      diagnostics_.RowRefused(row.table, row.simId, DatabaseErrorText(error));
    } catch (const std::exception& error) {
      diagnostics_.RowRefused(row.table, row.simId, error.what());
    }
  }
}

}  // namespace cuserver
