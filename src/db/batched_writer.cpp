#include "db/batched_writer.hpp"

#include <sqlite3.h>

#include "db/cursors.hpp"

namespace cuserver {

BatchedWriter::BatchedWriter(ReportDatabase& db, Diagnostics& diagnostics, Limits limits)
    : db_(db), diagnostics_(diagnostics), limits_(limits) {
  // Workers read through sessions of their own while this one writes. A
  // transaction that spilled its changed pages to the file in its middle
  // would lock every reader out until its commit, which waits for a worker
  // that waits to read: the pages stay in memory until the commit instead.
  // Each vehicle's savepoint keeps the pages it changes in a journal of its
  // own, held in memory rather than in a temporary file.
  try {
    db_.ExecuteStatement("PRAGMA cache_spill = OFF");
    db_.ExecuteStatement("PRAGMA temp_store = MEMORY");
  } catch (const std::exception&) {
  }
}

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

void BatchedWriter::BeginLocked() {
  try {
    if (!open_) {
      db_.ExecuteStatement("BEGIN");
      open_ = true;
      begun_ = std::chrono::steady_clock::now();
    }
  } catch (const std::exception&) {
    // No transaction: the rows go on their own.
  }
}

std::vector<StatementResult> BatchedWriter::ExecuteBlock(
    const std::vector<std::string>& removals, const std::vector<std::string>& rows,
    const std::function<std::vector<std::string>(const std::vector<StatementResult>&)>& closing) {
  std::lock_guard lock(mutex_);
  BeginLocked();
  if (!open_) throw DatabaseError("no transaction could be begun for a vehicle's rows");
  const std::size_t pendingBefore = pending_.size();
  db_.ExecuteStatement("SAVEPOINT vehicle_day");
  const auto takeBack = [&] {
    if (InTransaction()) {
      try {
        db_.ExecuteStatement("ROLLBACK TO vehicle_day");
        db_.ExecuteStatement("RELEASE vehicle_day");
      } catch (const std::exception&) {
      }
      pending_.resize(pendingBefore);
    } else {
      // The database dropped the transaction: the earlier rows go one by one.
      open_ = false;
      pending_.resize(pendingBefore);
      Resend(std::move(pending_));
      pending_.clear();
    }
  };
  try {
    for (const std::string& removal : removals) {
      db_.ExecuteStatement(removal);
      pending_.push_back({removal, {}, {}});
    }
    std::vector<StatementResult> results(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      try {
        db_.ExecuteStatement(rows[i]);
        pending_.push_back({rows[i], {}, {}});
      } catch (const DatabaseError& error) {
        if (!InTransaction()) throw;
        results[i] = {false, DatabaseErrorText(error)};
      }
    }
    for (const std::string& statement : closing(results)) {
      db_.ExecuteStatement(statement);
      pending_.push_back({statement, {}, {}});
    }
    db_.ExecuteStatement("RELEASE vehicle_day");
    return results;
  } catch (...) {
    takeBack();
    throw;
  }
}

bool BatchedWriter::Execute(const std::string& statement, std::string_view table, std::string_view simId) {
  std::lock_guard lock(mutex_);
  BeginLocked();
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
