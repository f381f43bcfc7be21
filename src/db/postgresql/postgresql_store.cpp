#include <fmt/format.h>

#include <atomic>
#include <map>
#include <utility>

#include "db/dialect.hpp"
#include "db/postgresql/pg_batch.hpp"
#include "db/row_statements.hpp"
#include "db/transaction.hpp"
#include "db/vehicle_day_store.hpp"

namespace cuserver {
namespace {

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

// Each worker writes its vehicle-days through its own session, and reads
// its next run meanwhile.
class PostgresRunStore : public RunStore {
 public:
  std::unique_ptr<VehicleDayStore> StoreFor(ReportDatabase& session) override {
    return std::make_unique<PostgresStore>(session);
  }
  bool ReadsAhead() const override { return true; }
};

}  // namespace

std::unique_ptr<RunStore> OpenPostgresRunStore(ReportDatabase&) { return std::make_unique<PostgresRunStore>(); }

}  // namespace cuserver
