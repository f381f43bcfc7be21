#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/batched_writer.hpp"
#include "db/row_images.hpp"
#include "db/session.hpp"

namespace cuserver {

// Writes one vehicle's day in place of what was written for it before, as
// one transaction where the backend allows: after a crash the database holds
// either all its old rows or all its new ones.
class VehicleDayStore {
 public:
  // The statements that close the transaction, made from the rows' results
  // (the ledger entry naming the rows that were written).
  using Closing = std::function<std::vector<ReportRow>(const std::vector<StatementResult>&)>;

  virtual ~VehicleDayStore() = default;

  // Removes one stored row equal to each earlier image (an image that
  // matches none removes nothing; the removals must succeed), then runs each
  // row statement (a row the database refuses is left out, the others stay),
  // then the closing rows. Throws DatabaseError when the transaction
  // could not be completed; none of its statements is then written.
  // owner names the rows when they are refused after this returned (SQLite's
  // batched commits).
  virtual std::vector<StatementResult> Write(const std::vector<const RowImage*>& earlier,
                                             const std::vector<ReportRow>& rows, const Closing& closing,
                                             const BlockOwner& owner = {}) = 0;
};

// SQLite: through the run's batched writer, whose transactions hold many
// vehicle-days, each whole.
std::unique_ptr<VehicleDayStore> MakeBatchedStore(BatchedWriter& writer);
// PostgreSQL: one round trip per vehicle-day when nothing is refused.
std::unique_ptr<VehicleDayStore> MakePostgresStore(ReportDatabase& db);
// Any other session (ODBC): a transaction of the driver's.
std::unique_ptr<VehicleDayStore> MakeSessionStore(ReportDatabase& db);
// The store that suits the session's backend (SQLite needs a writer).
std::unique_ptr<VehicleDayStore> MakeStoreFor(ReportDatabase& db, BatchedWriter* writer);

}  // namespace cuserver
