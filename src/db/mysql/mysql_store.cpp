#include "db/mysql/mysql.hpp"
#include "db/session_store.hpp"

namespace cuserver {
namespace {

// Each worker writes its vehicle-days through its own session, a table's
// rows in one insert with bound values, and reads its next run meanwhile.
class MysqlRunStore : public RunStore {
 public:
  std::unique_ptr<VehicleDayStore> StoreFor(ReportDatabase& session) override {
    SessionStoreWays ways;
    ways.mergesTableRuns = true;
    ways.transactionLost = MysqlTransactionLost;
    return MakeSessionStore(session, std::move(ways));
  }
  bool ReadsAhead() const override { return true; }
};

}  // namespace

std::unique_ptr<RunStore> OpenMysqlRunStore(ReportDatabase&) { return std::make_unique<MysqlRunStore>(); }

}  // namespace cuserver
