#include "db/vehicle_day_store.hpp"

#include <fmt/format.h>
#include <soci/soci.h>

#include <atomic>
#include <map>
#include <utility>

#include "db/cursors.hpp"
#include "db/dialect.hpp"
#include "db/driver_error.hpp"
#include "db/mysql/mysql_session.hpp"
#include "db/pg_batch.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

class BatchedStore : public VehicleDayStore {
 public:
  explicit BatchedStore(BatchedWriter& writer) : writer_(writer) {}
  std::vector<StatementResult> Write(const std::vector<const RowImage*>& earlier, const std::vector<std::string>& rows,
                                     const Closing& closing, const BlockOwner& owner) override {
    return writer_.ExecuteBlock(earlier, rows, closing, owner);
  }

 private:
  BatchedWriter& writer_;
};

void TryRollback(ReportDatabase& db) {
  try {
    PostgresExecuteMany(db, "ROLLBACK");
  } catch (const std::exception&) {
    // The transaction is gone with the connection, or was never begun.
  }
}

std::string Joined(const std::vector<std::string>& statements) {
  std::string text;
  for (const std::string& statement : statements) {
    text += statement;
    text += ";\n";
  }
  return text;
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

  std::vector<StatementResult> Write(const std::vector<const RowImage*>& earlier, const std::vector<std::string>& rows,
                                     const Closing& closing, const BlockOwner&) override {
    // Mostly every row is taken: the whole vehicle-day goes in one round trip,
    // each table's rows in one insert.
    std::vector<StatementResult> results(rows.size());
    try {
      const std::vector<std::string> removals = PreparedRemovals(earlier);
      PostgresExecuteMany(db_, "BEGIN;\n" + Joined(removals) + Joined(MergedInserts(rows)) + Joined(closing(results)) +
                                   "COMMIT");
      return results;
    } catch (const DatabaseError&) {
      TryRollback(db_);
      if (!db_.Alive()) throw;
    }
    // Some statement was refused: each row goes on its own, behind a savepoint,
    // after the earlier rows' removal as statements of their own.
    try {
      PostgresExecuteMany(db_, "BEGIN;\n" + Joined(DeleteStatements(earlier, types_)));
      for (std::size_t i = 0; i < rows.size(); ++i) {
        try {
          PostgresExecuteMany(db_, "SAVEPOINT vehicle_row;\n" + rows[i] + ";\nRELEASE vehicle_row");
        } catch (const DatabaseError& error) {
          results[i] = {false, DatabaseErrorText(error)};
          PostgresExecuteMany(db_, "ROLLBACK TO vehicle_row");
        }
      }
      PostgresExecuteMany(db_, Joined(closing(results)) + "COMMIT");
    } catch (...) {
      TryRollback(db_);
      throw;
    }
    return results;
  }

 private:
  // Each earlier row removed through the prepared statement of its table and
  // match, which the server plans once per session instead of a statement
  // with a sub-select per row planned for every vehicle.
  std::vector<std::string> PreparedRemovals(const std::vector<const RowImage*>& earlier) {
    const auto connection = PostgresConnectionOf(db_);
    if (connection != connection_) {
      prepared_.clear();
      connection_ = connection;
    }
    std::vector<std::string> removals;
    removals.reserve(earlier.size());
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
      std::string execute = "EXECUTE " + it->second;
      for (std::size_t i = 0; i < removal.values.size(); ++i) {
        execute += i == 0 ? "(" : ", ";
        execute += SqlLiteral(removal.values[i]);
      }
      if (!removal.values.empty()) execute += ')';
      removals.push_back(std::move(execute));
    }
    return removals;
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

  std::vector<StatementResult> Write(const std::vector<const RowImage*>& earlier, const std::vector<std::string>& rows,
                                     const Closing& closing, const BlockOwner&) override {
    const std::vector<std::string> removals = DeleteStatements(earlier, types_);
    std::vector<StatementResult> results(rows.size());
    if (joinable_ && !rows.empty()) {
      // Mostly every row is taken: the whole vehicle-day in one statement.
      try {
        db_.Native().begin();
        db_.ExecuteStatement(Joined(removals) + Joined(MergedInserts(rows)) + Joined(closing(results)));
        db_.Native().commit();
        return results;
      } catch (...) {
        Rollback();
        if (!db_.Alive()) RethrowAsDatabaseError();
      }
      // Some statement was refused: each goes on its own below.
    }
    try {
      db_.Native().begin();
    } catch (...) {
      RethrowAsDatabaseError();
    }
    try {
      for (const std::string& removal : removals) db_.ExecuteStatement(removal);
      // The drivers take a refused statement back alone (Oracle always,
      // psqlODBC by its own savepoints), so the transaction goes on.
      for (std::size_t i = 0; i < rows.size(); ++i) {
        try {
          db_.ExecuteStatement(rows[i]);
        } catch (const DatabaseError& error) {
          // MySQL takes the whole transaction back on a deadlock.
          if (mysql_ && MysqlTransactionLost(db_, error)) throw;
          results[i] = {false, DatabaseErrorText(error)};
        }
      }
      for (const std::string& statement : closing(results)) db_.ExecuteStatement(statement);
      db_.Native().commit();
    } catch (...) {
      Rollback();
      RethrowAsDatabaseError();
    }
    return results;
  }

 private:
  void Rollback() {
    try {
      db_.Native().rollback();
    } catch (...) {
      // Gone with the connection.
    }
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
