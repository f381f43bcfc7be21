// Kept apart: SOCI's PostgreSQL header brings libpq into every includer.
#include "db/postgresql/pg_copy.hpp"

#include <libpq-fe.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>

#include <memory>

namespace cuserver {
namespace {

std::string ServerReason(PGconn* conn) {
  std::string reason = PQerrorMessage(conn);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
  return reason;
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

}  // namespace

void PostgresCopyIn(ReportDatabase& db, const std::string& copy, std::string_view rows) {
  if (db.GetBackend() != Backend::Postgresql) throw DatabaseError("COPY needs a PostgreSQL session");
  auto* backend = static_cast<soci::postgresql_session_backend*>(db.Native().get_backend());
  PGconn* conn = backend->conn_;
  Result start(PQexec(conn, copy.c_str()), &PQclear);
  if (PQresultStatus(start.get()) != PGRES_COPY_IN) throw DatabaseError(ServerReason(conn));
  constexpr std::size_t kChunk = 1 << 20;
  bool sent = true;
  for (std::size_t at = 0; at < rows.size() && sent; at += kChunk) {
    const std::string_view piece = rows.substr(at, kChunk);
    sent = PQputCopyData(conn, piece.data(), static_cast<int>(piece.size())) == 1;
  }
  if (PQputCopyEnd(conn, sent ? nullptr : "sending the rows failed") != 1) throw DatabaseError(ServerReason(conn));
  bool failed = false;
  std::string reason;
  while (PGresult* raw = PQgetResult(conn)) {
    Result result(raw, &PQclear);
    if (PQresultStatus(raw) != PGRES_COMMAND_OK && !failed) {
      failed = true;
      reason = PQresultErrorMessage(raw);
    }
  }
  if (failed) {
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    throw DatabaseError(reason);
  }
}

}  // namespace cuserver
