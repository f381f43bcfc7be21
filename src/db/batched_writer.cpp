#include "db/batched_writer.hpp"

#include <sqlite3.h>

#include "db/cursors.hpp"

namespace cuserver {

BatchedWriter::BatchedWriter(ReportDatabase& db, Diagnostics& diagnostics, Limits limits)
    : db_(db), diagnostics_(diagnostics), limits_(limits) {}

BatchedWriter::~BatchedWriter() {
  try {
    Commit();
  } catch (...) {
    // Commit records its own failures; nothing may leave a destructor.
  }
}

bool BatchedWriter::InTransaction() { return sqlite3_get_autocommit(SqliteConnection(db_.Native())) == 0; }

void BatchedWriter::Refused(std::string_view table, std::string_view simId, const std::exception& error) {
  if (auto* db = dynamic_cast<const DatabaseError*>(&error)) {
    diagnostics_.RowRefused(table, simId, DatabaseErrorText(*db));
  } else {
    diagnostics_.RowRefused(table, simId, error.what());
  }
}

bool BatchedWriter::Execute(const std::string& statement, std::string_view table, std::string_view simId) {
  std::lock_guard lock(mutex_);
  try {
    if (!open_) {
      db_.ExecuteStatement("BEGIN");
      open_ = true;
      begun_ = std::chrono::steady_clock::now();
    }
  } catch (const std::exception&) {
    // No transaction: the row goes on its own.
  }
  try {
    db_.ExecuteStatement(statement);
  } catch (const std::exception& error) {
    if (open_ && !InTransaction()) {
      open_ = false;
      Resend(std::move(pending_));
      pending_.clear();
    }
    Refused(table, simId, error);
    return false;
  }
  if (open_) pending_.push_back({statement, std::string(table), std::string(simId)});
  return true;
}

bool BatchedWriter::CommitIfDue() {
  std::lock_guard lock(mutex_);
  if (open_ && pending_.size() < limits_.statements &&
      std::chrono::steady_clock::now() - begun_ < limits_.age) {
    return false;
  }
  CommitLocked();
  return true;
}

void BatchedWriter::Commit() {
  std::lock_guard lock(mutex_);
  CommitLocked();
}

void BatchedWriter::CommitLocked() {
  if (!open_) return;
  open_ = false;
  try {
    db_.ExecuteStatement("COMMIT");
    pending_.clear();
    return;
  } catch (const std::exception&) {
  }
  try {
    if (InTransaction()) db_.ExecuteStatement("ROLLBACK");
  } catch (const std::exception&) {
  }
  Resend(std::move(pending_));
  pending_.clear();
}

void BatchedWriter::Resend(std::vector<Row> rows) {
  for (const Row& row : rows) {
    try {
      db_.ExecuteStatement(row.statement);
    } catch (const std::exception& error) {
      Refused(row.table, row.simId, error);
    }
  }
}

}  // namespace cuserver
