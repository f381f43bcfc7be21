#include "db/transaction.hpp"

#include "db/backend_session.hpp"

namespace cuserver {

Transaction::Transaction(ReportDatabase& db) : Transaction(db, true) {}

Transaction::Transaction(ReportDatabase& db, bool begin) : db_(db) {
  if (!begin) return;
  try {
    db_.Session().Begin();
  } catch (...) {
    open_ = false;
    throw;
  }
}

Transaction::~Transaction() {
  if (!open_) return;
  try {
    db_.Session().Rollback();
  } catch (...) {
    // Gone with the connection: the server took the transaction back itself.
  }
}

void Transaction::Commit() {
  db_.Session().Commit();
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
