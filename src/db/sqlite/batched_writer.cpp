#include "db/sqlite/batched_writer.hpp"

#include <fmt/format.h>
#include <sqlite3.h>

#include "db/sqlite/sqlite.hpp"
#include "db/driver_error.hpp"
#include "db/row_statements.hpp"
#include "db/transaction.hpp"

namespace cuserver {

BatchedWriter::BatchedWriter(ReportDatabase& db, Diagnostics& diagnostics, Limits limits)
    : db_(db), diagnostics_(diagnostics), limits_(limits) {
  // Workers read through sessions of their own while this one writes. A
  // transaction that spilled its changed pages to the file in its middle
  // would lock every reader out until its commit, which waits for a worker
  // that waits to read: the pages stay in memory until the commit instead.
  // Each vehicle's savepoint keeps the pages it changes in a journal of its
  // own, held in memory rather than in a temporary file. The report tables'
  // indexes by time take each vehicle's rows all over: 16 MB of cache (the
  // default is 2 MB) keeps their pages for a fleet of 10,000 vehicles, where
  // they were read again from the file for each row.
  try {
    db_.ExecuteStatement("PRAGMA cache_spill = OFF");
    db_.ExecuteStatement("PRAGMA temp_store = MEMORY");
    db_.ExecuteStatement("PRAGMA cache_size = -16384");
  } catch (const std::exception&) {
  }
}

BatchedWriter::~BatchedWriter() {
  try {
    Commit();
  } catch (...) {
    // Commit records its own failures; nothing may leave a destructor.
  }
  ForgetPreparedLocked();
}

void BatchedWriter::ForgetPreparedLocked() {
  for (auto& [text, statement] : prepared_) sqlite3_finalize(statement);
  prepared_.clear();
}

sqlite3_stmt* BatchedWriter::PreparedLocked(const std::string& text) {
  auto [it, added] = prepared_.emplace(text, nullptr);
  if (!added) return it->second;
  if (sqlite3_prepare_v2(SqliteConnection(db_.Native()), text.c_str(), static_cast<int>(text.size()), &it->second,
                         nullptr) != SQLITE_OK ||
      it->second == nullptr) {
    sqlite3_finalize(it->second);
    prepared_.erase(it);
    return nullptr;
  }
  return it->second;
}


void BatchedWriter::ExecuteLocked(const ReportRow& row) {
  sqlite3* connection = SqliteConnection(db_.Native());
  sqlite3_stmt* prepared = PreparedLocked(BoundRowText(row, Placeholders::Question));
  if (prepared == nullptr) throw SqliteFailure(connection);
  for (std::size_t i = 0; i < row.values.size(); ++i) {
    const RowValue& value = row.values[i];
    const int place = static_cast<int>(i + 1);
    switch (value.GetKind()) {
      case RowValue::Kind::Integer: sqlite3_bind_int64(prepared, place, value.IntegerValue()); break;
      case RowValue::Kind::Null: sqlite3_bind_null(prepared, place); break;
      case RowValue::Kind::Text:
        sqlite3_bind_text(prepared, place, value.Text().data(), static_cast<int>(value.Text().size()), SQLITE_STATIC);
        break;
    }
  }
  const int rc = sqlite3_step(prepared);
  std::optional<DatabaseError> failure;
  if (rc != SQLITE_DONE) failure = SqliteFailure(connection);
  sqlite3_reset(prepared);
  sqlite3_clear_bindings(prepared);  // the values are not the statement's to keep
  if (failure) throw *failure;
}

void BatchedWriter::SendLocked(const Row& row) {
  if (row.statement.empty()) {
    ExecuteLocked(row.row);
  } else {
    db_.ExecuteStatement(row.statement);
  }
}

std::vector<std::string> BatchedWriter::RemovalsLocked(const std::vector<const RowImage*>& earlier) {
  // A bound text compares with a column as the same text written as a
  // literal does, so each image finds what a statement naming its values
  // would, without a statement compiled for every vehicle.
  std::vector<std::string> tables;
  std::map<std::string, std::string> rowids;
  const std::vector<int> before = EqualImagesBefore(earlier);
  sqlite3* connection = SqliteConnection(db_.Native());
  for (std::size_t i = 0; i < earlier.size(); ++i) {
    const RowImage& row = *earlier[i];
    std::string text = fmt::format("select rowid from {} where ", row.table);
    for (std::size_t c = 0; c < row.columns.size(); ++c) {
      if (c > 0) text += " and ";
      text += row.columns[c] + " = ?";
    }
    text += " limit 1 offset ?";
    sqlite3_stmt* lookup = PreparedLocked(text);
    if (lookup == nullptr) throw SqliteFailure(connection);
    for (std::size_t c = 0; c < row.values.size(); ++c) {
      sqlite3_bind_text(lookup, static_cast<int>(c + 1), row.values[c].data(), static_cast<int>(row.values[c].size()),
                        SQLITE_STATIC);
    }
    sqlite3_bind_int(lookup, static_cast<int>(row.values.size() + 1), before[i]);
    const int rc = sqlite3_step(lookup);
    const bool found = rc == SQLITE_ROW;
    const sqlite3_int64 rowid = found ? sqlite3_column_int64(lookup, 0) : 0;
    const std::string reason = rc == SQLITE_ROW || rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(connection);
    sqlite3_reset(lookup);
    sqlite3_clear_bindings(lookup);  // the values are not the statement's to keep
    if (!reason.empty()) throw DatabaseError(reason);
    if (!found) continue;
    std::string& list = rowids[row.table];
    if (list.empty()) {
      tables.push_back(row.table);
    } else {
      list += ", ";
    }
    list += std::to_string(rowid);
  }
  std::vector<std::string> statements;
  for (const std::string& table : tables) {
    statements.push_back(fmt::format("delete from {} where rowid in ({})", table, rowids[table]));
  }
  return statements;
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
      // The write lock from the start: a transaction that read first (the
      // lookups of earlier rows) and then waited to write would hold its read
      // lock against another writer's commit, which it would wait for.
      db_.ExecuteStatement("BEGIN IMMEDIATE");
      open_ = true;
      begun_ = std::chrono::steady_clock::now();
    }
  } catch (const std::exception&) {
    // No transaction: the rows go on their own.
  }
}

std::vector<StatementResult> BatchedWriter::ExecuteBlock(
    const std::vector<const RowImage*>& earlier, const std::vector<ReportRow>& rows,
    const std::function<std::vector<ReportRow>(const std::vector<StatementResult>&)>& closing,
    const BlockOwner& owner) {
  std::lock_guard lock(mutex_);
  const std::size_t block = ++blocks_;
  BeginLocked();
  if (!open_) throw DatabaseError("no transaction could be begun for a vehicle's rows");
  const std::size_t pendingBefore = pending_.size();
  Savepoint savepoint(db_, "vehicle_day");
  try {
    for (const std::string& removal : RemovalsLocked(earlier)) {
      db_.ExecuteStatement(removal);
      pending_.push_back({removal, {}, {}, owner.simId, block, false});
    }
    std::vector<StatementResult> results(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      try {
        ExecuteLocked(rows[i]);
        pending_.push_back({{}, rows[i], rows[i].table, owner.simId, block, true});
      } catch (const DatabaseError& error) {
        if (!InTransaction()) throw;
        results[i] = {false, DatabaseErrorText(error)};
      }
    }
    for (ReportRow& row : closing(results)) {
      ExecuteLocked(row);
      pending_.push_back({{}, std::move(row), {}, owner.simId, block, false});
    }
    savepoint.Release();
    return results;
  } catch (...) {
    pending_.resize(pendingBefore);
    if (!InTransaction()) {
      // The database dropped the transaction: the earlier rows go one by one.
      open_ = false;
      Resend(std::move(pending_));
      pending_.clear();
    }
    throw;  // the savepoint takes the block back, where there is still a transaction
  }
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
  ForgetPreparedLocked();
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
  for (std::size_t at = 0; at < rows.size();) {
    if (rows[at].block == 0) {
      try {
        SendLocked(rows[at]);
      } catch (const std::exception& error) {
        Refused(rows[at].table, rows[at].simId, error);
      }
      ++at;
      continue;
    }
    // A vehicle-day replaces its earlier rows and its ledger entry together
    // or not at all, as when it was first sent.
    std::size_t end = at;
    while (end < rows.size() && rows[end].block == rows[at].block) ++end;
    try {
      db_.ExecuteStatement("BEGIN IMMEDIATE");
      for (std::size_t i = at; i < end; ++i) SendLocked(rows[i]);
      db_.ExecuteStatement("COMMIT");
    } catch (const std::exception& error) {
      try {
        if (InTransaction()) db_.ExecuteStatement("ROLLBACK");
      } catch (const std::exception&) {
      }
      bool named = false;
      for (std::size_t i = at; i < end; ++i) {
        if (!rows[i].isRow) continue;
        Refused(rows[i].table, rows[i].simId, error);
        named = true;
      }
      if (!named) {
        const auto* db = dynamic_cast<const DatabaseError*>(&error);
        diagnostics_.Failure(fmt::format("vehicle {}: its earlier rows could not be removed: {}", rows[at].simId,
                                         db != nullptr ? DatabaseErrorText(*db) : std::string(error.what())));
      }
    }
    at = end;
  }
}

}  // namespace cuserver
