#include "db/vehicle_day_store.hpp"

#include <fmt/format.h>
#include <soci/soci.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <utility>

#include "db/cursors.hpp"
#include "db/dialect.hpp"
#include "db/driver_error.hpp"
#include "db/mysql/mysql_session.hpp"
#include "db/pg_batch.hpp"
#include "db/row_statements.hpp"
#include "db/transaction.hpp"

namespace cuserver {
namespace {

class BatchedStore : public VehicleDayStore {
 public:
  explicit BatchedStore(BatchedWriter& writer) : writer_(writer) {}
  std::vector<StatementResult> Write(const std::vector<const RowImage*>& earlier, const std::vector<ReportRow>& rows,
                                     const Closing& closing, const BlockOwner& owner) override {
    return writer_.ExecuteBlock(earlier, rows, closing, owner);
  }

 private:
  BatchedWriter& writer_;
};

std::string Joined(const std::vector<std::string>& statements) {
  std::string text;
  for (const std::string& statement : statements) {
    text += statement;
    text += ";\n";
  }
  return text;
}

PipelinedStatement Plain(std::string text) { return PipelinedStatement{std::move(text), {}, {}}; }

// The rows as statements with their values for parameters.
void AppendRows(std::vector<PipelinedStatement>& statements, const std::vector<ReportRow>& rows) {
  for (BoundStatement& bound : MergedBoundStatements(rows, Placeholders::Numbered)) {
    PipelinedStatement statement{std::move(bound.text), {}, {}};
    statement.parameters.reserve(bound.values.size());
    for (const RowValue* value : bound.values) {
      statement.parameters.push_back(value->IsNull() ? std::nullopt : std::optional<std::string>(value->Text()));
    }
    statements.push_back(std::move(statement));
  }
}

class PostgresStore : public VehicleDayStore {
 public:
  explicit PostgresStore(ReportDatabase& db) : db_(db), types_(db, SqlDialect::Postgresql) {}

  // What was prepared goes with the store: a session outlives many runs.
  ~PostgresStore() override {
    try {
      if (prepared_.empty() || PostgresConnectionOf(db_) != connection_) return;
      std::string deallocate;
      for (const auto& [statement, name] : prepared_) deallocate += "DEALLOCATE " + name + ";\n";
      PostgresExecuteMany(db_, deallocate);
    } catch (...) {
      // Gone with the connection, or left for the session's end.
    }
  }

  std::vector<StatementResult> Write(const std::vector<const RowImage*>& earlier, const std::vector<ReportRow>& rows,
                                     const Closing& closing, const BlockOwner&) override {
    // Mostly every row is taken: the whole vehicle-day goes in one round
    // trip, each table's rows in one insert, every value bound.
    std::vector<StatementResult> results(rows.size());
    try {
      std::vector<PipelinedStatement> statements{Plain("BEGIN")};
      PreparedRemovals(earlier, statements);
      AppendRows(statements, rows);
      const std::vector<ReportRow> closingRows = closing(results);
      AppendRows(statements, closingRows);
      statements.push_back(Plain("COMMIT"));
      Transaction transaction = Transaction::Begun(db_);
      PostgresPipeline(db_, statements);
      transaction.Committed();
      return results;
    } catch (const DatabaseError& error) {
      // A refused row is the common failure; anything else may have taken
      // the connection with it.
      if (error.Kind() == DatabaseErrorKind::ConnectionLost) throw;
      if (error.Kind() != DatabaseErrorKind::RowRefused && !db_.Alive()) throw;
    }
    // Some row was refused: each row goes on its own, behind a savepoint,
    // after the earlier rows' removal.
    {
      std::vector<PipelinedStatement> removals{Plain("BEGIN")};
      PreparedRemovals(earlier, removals);
      Transaction transaction = Transaction::Begun(db_);
      PostgresPipeline(db_, removals);
      for (std::size_t i = 0; i < rows.size(); ++i) {
        std::vector<PipelinedStatement> row{Plain("SAVEPOINT vehicle_row")};
        AppendRows(row, {rows[i]});
        row.push_back(Plain("RELEASE vehicle_row"));
        try {
          PostgresPipeline(db_, row);
        } catch (const DatabaseError& error) {
          results[i] = {false, DatabaseErrorText(error)};
          PostgresExecuteMany(db_, "ROLLBACK TO vehicle_row");
        }
      }
      std::vector<PipelinedStatement> end;
      AppendRows(end, closing(results));
      end.push_back(Plain("COMMIT"));
      PostgresPipeline(db_, end);
      transaction.Committed();
    }
    return results;
  }

 private:
  // Each earlier row removed through the prepared statement of its table and
  // match, which the server plans once per session instead of a statement
  // with a sub-select per row planned for every vehicle.
  void PreparedRemovals(const std::vector<const RowImage*>& earlier, std::vector<PipelinedStatement>& statements) {
    const auto connection = PostgresConnectionOf(db_);
    if (connection != connection_) {
      prepared_.clear();
      connection_ = connection;
    }
    for (const RowImage* row : earlier) {
      PreparedRemoval removal = PostgresRemoval(*row, types_);
      auto [it, added] = prepared_.emplace(removal.statement, "");
      if (added) {
        // Named apart from every other store's: a session outlives a store.
        static std::atomic<unsigned long> named{0};
        const std::string name = fmt::format("cuserver_removal_{}", ++named);
        try {
          PostgresPrepare(db_, name, removal.statement);
        } catch (...) {
          prepared_.erase(it);
          throw;
        }
        it->second = name;
      }
      PipelinedStatement execute{{}, it->second, {}};
      execute.parameters.assign(removal.values.begin(), removal.values.end());
      statements.push_back(std::move(execute));
    }
  }

  ReportDatabase& db_;
  ColumnTypes types_;
  std::pair<const void*, int> connection_{nullptr, 0};
  std::map<std::string, std::string> prepared_;  // statement -> its name on the connection
};

class SessionStore : public VehicleDayStore {
 public:
  // psqlODBC runs statements separated by ';' as one query: one round trip.
  explicit SessionStore(ReportDatabase& db)
      : db_(db),
        types_(db, DialectOf(db)),
        joinable_(db.GetBackend() == Backend::Odbc && OdbcDbmsOf(db.Native()) == OdbcDbms::Postgresql),
        mysql_(db.Dialect() == SqlDialect::Mysql) {}

  std::vector<StatementResult> Write(const std::vector<const RowImage*>& earlier, const std::vector<ReportRow>& rows,
                                     const Closing& closing, const BlockOwner&) override {
    const std::vector<std::string> removals = DeleteStatements(earlier, types_);
    std::vector<StatementResult> results(rows.size());
    if (joinable_ && !rows.empty()) {
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
      // MySQL takes the whole transaction back on a deadlock.
      return error.Kind() == DatabaseErrorKind::ConnectionLost || (mysql_ && MysqlTransactionLost(db_, error));
    };
    for (std::size_t run = 0; run < rows.size();) {
      const std::size_t end = mysql_ ? RunEnd(rows, run) : run + 1;
      if (end - run > 1) {
        // MySQL: a table's rows in one insert, unless one of them is refused.
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

  // Inserts a run of rows as one statement (MariaDB's ODBC driver gets its
  // values as literals: it answers a refused bound row as written).
  void WriteRun(const std::vector<ReportRow>& run) {
    if (db_.GetBackend() == Backend::Odbc) {
      for (const std::string& statement : MergedLiteralStatements(run)) db_.ExecuteStatement(statement);
      return;
    }
    for (const BoundStatement& statement : MergedBoundStatements(run, Placeholders::Named)) ExecuteBound(db_, statement);
  }

  ReportDatabase& db_;
  ColumnTypes types_;
  bool joinable_;
  bool mysql_;
};

}  // namespace

std::unique_ptr<VehicleDayStore> MakeBatchedStore(BatchedWriter& writer) {
  return std::make_unique<BatchedStore>(writer);
}

std::unique_ptr<VehicleDayStore> MakePostgresStore(ReportDatabase& db) { return std::make_unique<PostgresStore>(db); }

std::unique_ptr<VehicleDayStore> MakeSessionStore(ReportDatabase& db) { return std::make_unique<SessionStore>(db); }

std::unique_ptr<VehicleDayStore> MakeStoreFor(ReportDatabase& db, BatchedWriter* writer) {
  if (db.GetBackend() == Backend::Sqlite3 && writer != nullptr) return MakeBatchedStore(*writer);
  if (db.GetBackend() == Backend::Postgresql) return MakePostgresStore(db);
  return MakeSessionStore(db);
}

}  // namespace cuserver
