#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/session.hpp"
#include "reports/diagnostics.hpp"
#include "reports/ports.hpp"

namespace cuserver {

// Runs several statements, separated by ';', in one round trip to a
// PostgreSQL session; the server runs them as one transaction, so a refused
// one leaves none of them written. Throws DatabaseError with its reason.
void PostgresExecuteMany(ReportDatabase& db, const std::string& statements);

// Collects a worker's row statements and sends them to PostgreSQL many at a
// time: on a busy machine each round trip to the server costs more than the
// row it carries. When the server refuses a batch, its statements are sent
// again one by one, so each refused row is recorded with its own reason and
// every other row is written. Execute returns true once the statement is
// queued; a refusal is recorded on the diagnostics when the batch is sent.
// Not for several threads: one batch per session.
class PostgresStatementBatch : public StatementSink {
 public:
  PostgresStatementBatch(ReportDatabase& db, Diagnostics& diagnostics, std::size_t maxStatements = 500);
  // Sends what is queued; refusals are recorded.
  ~PostgresStatementBatch() override;
  PostgresStatementBatch(const PostgresStatementBatch&) = delete;
  PostgresStatementBatch& operator=(const PostgresStatementBatch&) = delete;

  bool Execute(const std::string& statement, std::string_view table, std::string_view simId) override;
  // Sends every queued statement.
  void Flush();

 private:
  struct Row {
    std::string table;
    std::string simId;
    std::size_t begin;  // the statement's place in text_
    std::size_t size;
  };

  ReportDatabase& db_;
  Diagnostics& diagnostics_;
  std::size_t maxStatements_;
  std::string text_;
  std::vector<Row> rows_;
};

}  // namespace cuserver
