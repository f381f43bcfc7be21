#pragma once

// What each backend does its own way. A folder per backend (sqlite/,
// postgresql/, mysql/, odbc/) holds the same files: <backend>_session.cpp
// opens and sets up its connection and runs its statements, <backend>_store.cpp
// writes a run's vehicle-days, and where the backend reads by an API of its
// own, <backend>_cursor.cpp reads. ReportDatabase and the run's stores reach
// them through these two interfaces only.

#include <memory>
#include <string>
#include <vector>

#include "db/session.hpp"

namespace soci {
class session;
}

namespace cuserver {

class Diagnostics;
class RunStore;
class StatementGuard;

// One open connection of a backend.
class BackendSession {
 public:
  explicit BackendSession(std::unique_ptr<soci::session> sql);
  virtual ~BackendSession();
  BackendSession(const BackendSession&) = delete;
  BackendSession& operator=(const BackendSession&) = delete;

  soci::session& Sql() { return *sql_; }

  virtual SqlDialect Dialect() const = 0;
  // Whether the connection can still run a trivial statement. Never throws.
  virtual bool Alive() = 0;
  // Through SOCI unless the backend reads by an API of its own.
  virtual std::unique_ptr<Cursor> OpenQuery(const std::string& statement);
  // A query of many rows read by place; the rows read as OpenQuery's would.
  virtual std::unique_ptr<Cursor> OpenBulkQuery(const std::string& statement) { return OpenQuery(statement); }
  virtual void Execute(const std::string& statement);
  // The same with texts bound to the statement's `?` placeholders
  // (ReportDatabase::OpenQuery); through SOCI unless the backend binds by an
  // API of its own. SOCI's MySQL and ODBC backends end a text at a NUL byte,
  // so a text holding one is refused here.
  virtual std::unique_ptr<Cursor> OpenBoundQuery(const std::string& statement, const std::vector<std::string>& texts);
  virtual std::unique_ptr<Cursor> OpenBoundBulkQuery(const std::string& statement,
                                                     const std::vector<std::string>& texts) {
    return OpenBoundQuery(statement, texts);
  }
  virtual void ExecuteBound(const std::string& statement, const std::vector<std::string>& texts);
  // The transaction statements; an ODBC driver keeps the state itself.
  virtual void Begin() { Execute("BEGIN"); }
  virtual void Commit() { Execute("COMMIT"); }
  virtual void Rollback() { Execute("ROLLBACK"); }
  // The column every table has that orders rows of equal times as they are
  // stored (rowid, ctid); null where there is none.
  virtual const char* StoredOrderColumn() const { return nullptr; }
  // Whether the driver's answer to a bound row is true; MariaDB's ODBC
  // driver answers a bound row the server refused as written, and its
  // statements of literals truly.
  virtual bool AnswersBoundRowsTruly() const { return true; }
  // Whether a refused statement refuses everything after it until the
  // transaction is rolled back (PostgreSQL), so that statements that may be
  // refused run under savepoints.
  virtual bool RefusalEndsTransaction() const { return false; }
  // Whether the table exists, asked as cheaply as the backend allows.
  virtual bool TableExists(const std::string& probe);
  // How a run on this session writes its vehicle-days.
  virtual std::unique_ptr<RunStore> OpenRunStore(ReportDatabase& db, Diagnostics& diagnostics) = 0;

 private:
  std::unique_ptr<soci::session> sql_;
};

// The backends' sessions, each opened with settings of its backend. Throw
// DatabaseError when the database refuses the connection, SettingsError when
// the settings cannot be served.
std::unique_ptr<BackendSession> OpenSqliteSession(const ConnectionSettings& settings);
std::unique_ptr<BackendSession> OpenPostgresSession(const ConnectionSettings& settings, StatementGuard& guard);
std::unique_ptr<BackendSession> OpenMysqlSession(const ConnectionSettings& settings);
std::unique_ptr<BackendSession> OpenOdbcSession(const ConnectionSettings& settings);

// Opens SOCI's session of the backend with the settings' connect string.
std::unique_ptr<soci::session> OpenSociSession(const ConnectionSettings& settings);

}  // namespace cuserver
