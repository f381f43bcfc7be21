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
      AppendRows(rows, statements);
      const std::vector<ReportRow> closingRows = closing(results);
      AppendRows(closingRows, statements);
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
        AppendRows({rows[i]}, row, false);
        row.push_back(Plain("RELEASE vehicle_row"));
        try {
          PostgresPipeline(db_, row);
        } catch (const DatabaseError& error) {
          results[i] = {false, DatabaseErrorText(error)};
          PostgresExecuteMany(db_, "ROLLBACK TO vehicle_row");
        }
      }
      std::vector<PipelinedStatement> end;
      AppendRows(closing(results), end, false);
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
    for (const RowImage* row : earlier) {
      PreparedRemoval removal = PostgresRemoval(*row, types_);
      PipelinedStatement execute{{}, PreparedName(removal.statement, true), {}};
      if (execute.prepared.empty()) execute.text = std::move(removal.statement);
      execute.parameters.assign(removal.values.begin(), removal.values.end());
      statements.push_back(std::move(execute));
    }
  }

  // The rows as inserts of a table's rows each, with their values for
  // parameters. An insert of a table and number of rows met before runs as
  // the statement prepared for it: the server parses and plans it once per
  // session, not once per vehicle.
  // Inside a transaction nothing new is prepared (mayPrepare false): a
  // statement the server refuses to prepare would end the transaction.
  void AppendRows(const std::vector<ReportRow>& rows, std::vector<PipelinedStatement>& statements,
                  bool mayPrepare = true) {
    for (BoundStatement& bound : MergedBoundStatements(rows, Placeholders::Numbered)) {
      PipelinedStatement statement{{}, {}, {}};
      statement.prepared = PreparedName(bound.text, mayPrepare);
      if (statement.prepared.empty()) statement.text = std::move(bound.text);
      statement.parameters.reserve(bound.values.size());
      for (const RowValue* value : bound.values) {
        statement.parameters.push_back(value->IsNull() ? std::nullopt : std::optional<std::string>(value->Text()));
      }
      statements.push_back(std::move(statement));
    }
  }

  // The name the statement is prepared under on the session's connection,
  // preparing it when new and allowed; empty for a statement to run
  // unprepared (also once so many are prepared).
  std::string PreparedName(const std::string& statement, bool mayPrepare) {
    constexpr std::size_t kMostPrepared = 1000;
    const auto connection = PostgresConnectionOf(db_);
    if (connection != connection_) {
      prepared_.clear();
      connection_ = connection;
    }
    if (const auto known = prepared_.find(statement); known != prepared_.end()) return known->second;
    if (!mayPrepare || prepared_.size() >= kMostPrepared) return {};
    // Named apart from every other store's: a session outlives a store.
    static std::atomic<unsigned long> named{0};
    std::string name = fmt::format("cuserver_row_{}", ++named);
    PostgresPrepare(db_, name, statement);
    prepared_.emplace(statement, name);
    return name;
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
