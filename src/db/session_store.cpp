#include "db/session_store.hpp"

#include <algorithm>
#include <utility>

#include "db/dialect.hpp"
#include "db/row_statements.hpp"
#include "db/transaction.hpp"

namespace cuserver {
namespace {

std::string Joined(const std::vector<std::string>& statements) {
  std::string text;
  for (const std::string& statement : statements) {
    text += statement;
    text += ";\n";
  }
  return text;
}

class SessionStore : public VehicleDayStore {
 public:
  SessionStore(ReportDatabase& db, SessionStoreWays ways) : db_(db), types_(db, DialectOf(db)), ways_(std::move(ways)) {}

  std::vector<StatementResult> Write(const std::vector<const RowImage*>& earlier, const std::vector<ReportRow>& rows,
                                     const Closing& closing, const BlockOwner&) override {
    try {
      return WriteOnce(earlier, rows, closing);
    } catch (const DatabaseError& error) {
      // Told apart, so that the vehicle-day is written again rather than given up.
      if (error.Kind() == DatabaseErrorKind::ConnectionLost || !ways_.transactionLost ||
          !ways_.transactionLost(db_, error)) {
        throw;
      }
      throw DatabaseError(error.what(), error.Code(), DatabaseErrorKind::TransactionLost, error.NativeCode());
    }
  }

 private:
  std::vector<StatementResult> WriteOnce(const std::vector<const RowImage*>& earlier,
                                         const std::vector<ReportRow>& rows, const Closing& closing) {
    const std::vector<std::string> removals = DeleteStatements(earlier, types_);
    std::vector<StatementResult> results(rows.size());
    if (ways_.joinsStatements && !rows.empty()) {
      // Mostly every row is taken: the whole vehicle-day in one statement.
      try {
        Transaction transaction(db_);
        db_.ExecuteStatement(Joined(removals) + Joined(MergedLiteralStatements(rows)) +
                             Joined(MergedLiteralStatements(closing(results))));
        transaction.Commit();
        return results;
      } catch (const DatabaseError& error) {
        if (error.Kind() == DatabaseErrorKind::ConnectionLost) throw;
        if (error.Kind() != DatabaseErrorKind::RowRefused && !db_.Alive()) throw;
      }
      // Some statement was refused: each goes on its own below.
    }
    Transaction transaction(db_);
    for (const std::string& removal : removals) db_.ExecuteStatement(removal);
    // The drivers take a refused statement back alone (Oracle always,
    // psqlODBC by its own savepoints, MySQL's InnoDB), so the transaction
    // goes on.
    const auto lost = [this](const DatabaseError& error) {
      return error.Kind() == DatabaseErrorKind::ConnectionLost ||
             (ways_.transactionLost && ways_.transactionLost(db_, error));
    };
    for (std::size_t run = 0; run < rows.size();) {
      const std::size_t end = ways_.mergesTableRuns ? RunEnd(rows, run) : run + 1;
      if (end - run > 1) {
        // A table's rows in one insert, unless one of them is refused.
        try {
          WriteRun(std::vector<ReportRow>(rows.begin() + static_cast<std::ptrdiff_t>(run),
                                          rows.begin() + static_cast<std::ptrdiff_t>(end)));
          run = end;
          continue;
        } catch (const DatabaseError& error) {
          if (lost(error)) throw;
        }
      }
      for (std::size_t i = run; i < end; ++i) {
        try {
          ExecuteRow(db_, rows[i]);
        } catch (const DatabaseError& error) {
          if (lost(error)) throw;
          results[i] = {false, DatabaseErrorText(error)};
        }
      }
      run = end;
    }
    for (const ReportRow& row : closing(results)) ExecuteRow(db_, row);
    transaction.Commit();
    return results;
  }

 private:
  // The end of the run of inserts into one table and columns that begins at `at`.
  static std::size_t RunEnd(const std::vector<ReportRow>& rows, std::size_t at) {
    std::size_t end = at + 1;
    if (rows[at].action != RowAction::Insert) return end;
    while (end < rows.size() && rows[end].action == RowAction::Insert && rows[end].table == rows[at].table &&
           std::equal(rows[end].columns.begin(), rows[end].columns.end(), rows[at].columns.begin(),
                      rows[at].columns.end())) {
      ++end;
    }
    return end;
  }

  // Inserts a run of rows as one statement.
  void WriteRun(const std::vector<ReportRow>& run) {
    if (ways_.literalRuns) {
      for (const std::string& statement : MergedLiteralStatements(run)) db_.ExecuteStatement(statement);
      return;
    }
    for (const BoundStatement& statement : MergedBoundStatements(run, Placeholders::Named)) ExecuteBound(db_, statement);
  }

  ReportDatabase& db_;
  ColumnTypes types_;
  SessionStoreWays ways_;
};

}  // namespace

std::unique_ptr<VehicleDayStore> MakeSessionStore(ReportDatabase& db, SessionStoreWays ways) {
  return std::make_unique<SessionStore>(db, std::move(ways));
}

}  // namespace cuserver
