#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "db/row_images.hpp"
#include "db/session.hpp"
#include "db/vehicle_day_store.hpp"
#include "reports/diagnostics.hpp"
#include "reports/ports.hpp"

struct sqlite3_stmt;

namespace cuserver {

// One session that takes the row statements of every worker of a run and
// groups them into transactions. On SQLite every commit waits for the file to
// reach the disk, so a row committed on its own costs milliseconds; a
// transaction of many rows costs the same once. A refused statement is
// recorded and leaves the transaction's other rows in place; when the
// database drops the whole transaction (disk full, I/O error) or refuses its
// commit, its statements are sent again one by one (a block as a transaction
// of its own), so no row is lost unseen.
// Safe to use from several threads. For SQLite only: PostgreSQL aborts a
// transaction at its first refused statement.
class BatchedWriter {
 public:
  struct Limits {
    // Commit when the transaction holds this many, or when it is this old.
    // A commit writes every page its rows changed, and the report tables'
    // indexes by time take each vehicle's rows all over: the pages of one
    // commit grow with the fleet, so the more vehicle-days a commit holds,
    // the fewer times those pages are written.
    std::size_t statements = 20000;
    std::chrono::milliseconds age{1000};
  };

  BatchedWriter(ReportDatabase& db, Diagnostics& diagnostics, Limits limits);
  BatchedWriter(ReportDatabase& db, Diagnostics& diagnostics) : BatchedWriter(db, diagnostics, Limits{}) {}
  // Commits what is pending; failures are recorded.
  ~BatchedWriter();
  BatchedWriter(const BatchedWriter&) = delete;
  BatchedWriter& operator=(const BatchedWriter&) = delete;

  // Runs a block of rows in the open transaction, beginning one when none is
  // open, with no other caller's rows between them, inside a savepoint: one
  // stored row equal to each earlier image is removed (this must succeed),
  // each row may be refused alone, then the rows `closing` makes from the
  // rows' results must succeed. Otherwise the block is taken back whole and
  // DatabaseError thrown. Returns the rows' results. Should the transaction's
  // commit fail later, the block is sent again whole or not at all, each of
  // its rows then refused under the owner's names.
  std::vector<StatementResult> ExecuteBlock(
      const std::vector<const RowImage*>& earlier, const std::vector<ReportRow>& rows,
      const std::function<std::vector<ReportRow>(const std::vector<StatementResult>&)>& closing,
      const BlockOwner& owner = {});

  // Commits when a limit is reached. True when everything executed before
  // the call is committed.
  bool CommitIfDue();
  // Commits everything executed so far.
  void Commit();

 private:
  struct Row {
    std::string statement;  // a removal of earlier rows, or empty for `row`
    ReportRow row;
    std::string table;
    std::string simId;
    std::size_t block = 0;  // the ExecuteBlock it belongs to; 0 for a statement of its own
    bool isRow = true;      // a row statement, not a block's removal or ledger entry
  };

  // The statements removing the stored rows equal to the images, which name
  // the rows found by their rowid.
  std::vector<std::string> RemovalsLocked(const std::vector<const RowImage*>& earlier);
  // Writes a row in the open transaction through the prepared statement of
  // its shape, with its values bound. Throws DatabaseError with the driver's
  // reason.
  void ExecuteLocked(const ReportRow& row);
  // Sends a row or a removal again.
  void SendLocked(const Row& row);
  // The statement prepared from the text, kept until the commit; null when
  // it cannot be prepared.
  sqlite3_stmt* PreparedLocked(const std::string& text);
  void ForgetPreparedLocked();
  void CommitLocked();
  void BeginLocked();
  bool InTransaction();
  // Sends rows in autocommit mode, one by one, recording refusals.
  void Resend(std::vector<Row> rows);
  void Refused(std::string_view table, std::string_view simId, const std::exception& error);

  ReportDatabase& db_;
  Diagnostics& diagnostics_;
  Limits limits_;
  std::mutex mutex_;
  bool open_ = false;
  std::chrono::steady_clock::time_point begun_;
  std::vector<Row> pending_;  // the open transaction's rows, for a resend
  std::size_t blocks_ = 0;
  // The open transaction's statements with parameters, by their text: the
  // lookups of earlier rows and the inserts, one per shape.
  std::map<std::string, sqlite3_stmt*> prepared_;
};

}  // namespace cuserver
