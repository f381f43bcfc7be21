#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/row_images.hpp"
#include "db/session.hpp"
#include "reports/diagnostics.hpp"

namespace cuserver {

// How one row statement went.
struct StatementResult {
  bool written = true;
  std::string reason;  // the driver's reason when refused
};

// Whose a block's rows are: the vehicle, named by a refusal however late it
// comes (a commit the database refuses).
struct BlockOwner {
  std::string simId;
};

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

// How a run's workers write their vehicle-days, as the run's backend does it
// best. Made once per run on the run's session.
class RunStore {
 public:
  virtual ~RunStore() = default;

  // The store a worker writes through; `session` is the worker's own.
  virtual std::unique_ptr<VehicleDayStore> StoreFor(ReportDatabase& session) = 0;

  // Whether the run's session writes every worker's rows (SQLite, whose
  // commits wait for the disk): workers then read through sessions of
  // their own, and a vehicle's rows are committed after its store returned.
  virtual bool WritesThroughRunSession() const { return false; }
  // Commits when due. True when everything written before the call is
  // committed.
  virtual bool CommitIfDue() { return true; }
  // Commits everything written so far.
  virtual void Commit() {}

  // The most consecutive vehicles one query reads: a server's answer is
  // held whole until read, so shorter runs keep it small.
  virtual std::size_t LongestRun() const { return 8; }
  // Whether a worker reads its next run on a connection of its own while it
  // computes: a server reads meanwhile; SQLite's reading is this process's
  // own work.
  virtual bool ReadsAhead() const { return false; }
};

// The run store of the session's backend. Throws DatabaseError.
std::unique_ptr<RunStore> OpenRunStore(ReportDatabase& db, Diagnostics& diagnostics);

}  // namespace cuserver
