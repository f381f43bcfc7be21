#include "db/sqlite/batched_writer.hpp"
#include "db/vehicle_day_store.hpp"

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

// Every commit waits for the file to reach the disk: every worker's
// vehicle-days go through the run's session, in transactions of many.
class SqliteRunStore : public RunStore {
 public:
  SqliteRunStore(ReportDatabase& db, Diagnostics& diagnostics) : writer_(db, diagnostics) {}

  std::unique_ptr<VehicleDayStore> StoreFor(ReportDatabase&) override {
    return std::make_unique<BatchedStore>(writer_);
  }
  bool WritesThroughRunSession() const override { return true; }
  bool CommitIfDue() override { return writer_.CommitIfDue(); }
  void Commit() override { writer_.Commit(); }
  // The reading is this process's own work: longer runs cost nothing.
  std::size_t LongestRun() const override { return 16; }

 private:
  BatchedWriter writer_;
};

}  // namespace

std::unique_ptr<RunStore> OpenSqliteRunStore(ReportDatabase& db, Diagnostics& diagnostics) {
  return std::make_unique<SqliteRunStore>(db, diagnostics);
}

}  // namespace cuserver
