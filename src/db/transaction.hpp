#pragma once

#include <string>

#include "db/session.hpp"

namespace cuserver {

// A transaction of the session, begun when made. Left without Commit (an
// exception, an early return) it is rolled back; the destructor never
// throws, and a transaction the database already dropped costs nothing.
class Transaction {
 public:
  // Begins one. Throws DatabaseError.
  explicit Transaction(ReportDatabase& db);
  // Stands for a transaction the caller began itself (a BEGIN sent in a
  // batch of statements): only its rollback is this guard's.
  static Transaction Begun(ReportDatabase& db) { return Transaction(db, false); }
  Transaction(Transaction&& other) noexcept : db_(other.db_), open_(other.open_) { other.open_ = false; }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  Transaction& operator=(Transaction&&) = delete;
  ~Transaction();

  // Commits. Throws DatabaseError; the transaction is then rolled back.
  void Commit();
  // Marks the transaction ended by a COMMIT the caller sent itself.
  void Committed() { open_ = false; }

 private:
  Transaction(ReportDatabase& db, bool begin);
  ReportDatabase& db_;
  bool open_ = true;
};

// A savepoint in the open transaction. Left without Release, the work done
// since it is taken back; the destructor never throws.
class Savepoint {
 public:
  // Sets it. Throws DatabaseError.
  Savepoint(ReportDatabase& db, std::string name);
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;
  ~Savepoint() { RollBack(); }

  // Keeps the work done since. Throws DatabaseError.
  void Release();
  // Takes the work done since back, when there is still a transaction to
  // take it from. Never throws.
  void RollBack() noexcept;

 private:
  ReportDatabase& db_;
  std::string name_;
  bool open_ = true;
};

}  // namespace cuserver
