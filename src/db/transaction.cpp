#include "db/transaction.hpp"

#include <soci/soci.h>

#include "db/driver_error.hpp"

namespace cuserver {

namespace {

// ODBC drivers keep the transaction state themselves (autocommit); the
// other sessions take the statements, which then run under the session's
// statement watch.
void Send(ReportDatabase& db, const char* statement) {
  if (db.GetBackend() != Backend::Odbc) {
    db.ExecuteStatement(statement);
    return;
  }
  try {
    soci::session& sql = db.Native();
    if (statement[0] == 'B') {
      sql.begin();
    } else if (statement[0] == 'C') {
      sql.commit();
    } else {
      sql.rollback();
    }
  } catch (...) {
    RethrowAsDatabaseError();
  }
}

}  // namespace

Transaction::Transaction(ReportDatabase& db) : Transaction(db, true) {}

Transaction::Transaction(ReportDatabase& db, bool begin) : db_(db) {
  if (!begin) return;
  try {
    Send(db_, "BEGIN");
  } catch (...) {
    open_ = false;
    throw;
  }
}

Transaction::~Transaction() {
  if (!open_) return;
  try {
    Send(db_, "ROLLBACK");
  } catch (...) {
    // Gone with the connection: the server took the transaction back itself.
  }
}

void Transaction::Commit() {
  Send(db_, "COMMIT");
  open_ = false;
}

Savepoint::Savepoint(ReportDatabase& db, std::string name) : db_(db), name_(std::move(name)) {
  try {
    db_.ExecuteStatement("SAVEPOINT " + name_);
  } catch (...) {
    open_ = false;
    throw;
  }
}

void Savepoint::Release() {
  db_.ExecuteStatement("RELEASE " + name_);
  open_ = false;
}

void Savepoint::RollBack() noexcept {
  if (!open_) return;
  open_ = false;
  try {
    db_.ExecuteStatement("ROLLBACK TO " + name_);
    db_.ExecuteStatement("RELEASE " + name_);
  } catch (...) {
    // No transaction left to take it from: the database dropped it whole.
  }
}

}  // namespace cuserver
