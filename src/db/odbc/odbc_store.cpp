#include "db/mysql/mysql.hpp"
#include "db/odbc/odbc.hpp"
#include "db/session_store.hpp"

namespace cuserver {
namespace {

// Each worker writes its vehicle-days as transactions of the driver's, the
// way the DBMS behind it takes them best.
class OdbcRunStore : public RunStore {
 public:
  std::unique_ptr<VehicleDayStore> StoreFor(ReportDatabase& session) override {
    SessionStoreWays ways;
    // psqlODBC runs statements separated by ';' as one query: one round trip.
    ways.joinsStatements = OdbcDbmsOf(session.Native()) == OdbcDbms::Postgresql;
    if (session.Dialect() == SqlDialect::Mysql) {
      ways.mergesTableRuns = true;
      ways.literalRuns = true;
      ways.transactionLost = MysqlTransactionLost;
    }
    return MakeSessionStore(session, std::move(ways));
  }
};

}  // namespace

std::unique_ptr<RunStore> OpenOdbcRunStore(ReportDatabase&) { return std::make_unique<OdbcRunStore>(); }

}  // namespace cuserver
