#include "db/session.hpp"

#include <fmt/format.h>
#include <soci/soci.h>

#include <map>

#include "db/backend_session.hpp"
#include "db/dialect.hpp"
#include "db/statement_guard.hpp"
#include "db/vehicle_day_store.hpp"

namespace cuserver {

bool Cursor::ValueAtInto(int place, std::string& text) const {
  (void)text;
  throw DatabaseError("this cursor reads its columns by name only (place " + std::to_string(place) + ")");
}

void Cursor::FixValueAt(int place, FixValue& value) const {
  (void)value;
  throw DatabaseError("this cursor reads its columns by name only (place " + std::to_string(place) + ")");
}

struct ReportDatabase::Impl {
  // The watch goes before its connection closes.
  ~Impl() {
    guard.Unwatch();
    session.reset();
  }

  std::unique_ptr<BackendSession> session;
  Backend backend = Backend::Sqlite3;
  // EqualTimesOrder of the tables asked about.
  std::map<std::string, std::string, std::less<>> equalTimesOrder;
  StatementGuard guard;
};

ReportDatabase::ReportDatabase() : impl_(std::make_unique<Impl>()) {}
ReportDatabase::~ReportDatabase() = default;

void ReportDatabase::OpenReportSession(const ConnectionSettings& settings) {
  // The old connection goes first, also when the new one is refused.
  impl_->guard.Unwatch();
  impl_->session.reset();
  impl_->backend = settings.backend;
  impl_->equalTimesOrder.clear();
  switch (settings.backend) {
    case Backend::Sqlite3: impl_->session = OpenSqliteSession(settings); break;
    case Backend::Postgresql: impl_->session = OpenPostgresSession(settings, impl_->guard); break;
    case Backend::Mysql: impl_->session = OpenMysqlSession(settings); break;
    case Backend::Odbc: impl_->session = OpenOdbcSession(settings); break;
  }
}

bool ReportDatabase::IsOpen() const { return impl_->session != nullptr; }

bool ReportDatabase::Alive() { return impl_->session != nullptr && impl_->session->Alive(); }

Backend ReportDatabase::GetBackend() const { return impl_->backend; }

SqlDialect ReportDatabase::Dialect() const {
  return impl_->session != nullptr ? impl_->session->Dialect() : DialectOf(impl_->backend);
}

std::string UnknownDbmsMessage(std::string_view dbms) {
  return fmt::format(
      "the ODBC data source reaches the DBMS \"{}\", whose SQL this program does not know; if it speaks one it "
      "knows, name it with the key Dialect of section General (oracle, postgresql, mysql or sqlite)",
      dbms.empty() ? "(not named by the driver)" : std::string(dbms));
}

std::unique_ptr<Cursor> ReportDatabase::OpenQuery(const std::string& statement) {
  return Session().OpenQuery(statement);
}

std::unique_ptr<Cursor> ReportDatabase::OpenBulkQuery(const std::string& statement) {
  return Session().OpenBulkQuery(statement);
}

void ReportDatabase::ExecuteStatement(const std::string& statement) { Session().Execute(statement); }

std::unique_ptr<Cursor> ReportDatabase::OpenQuery(const std::string& statement, const std::vector<std::string>& texts) {
  return Session().OpenBoundQuery(statement, texts);
}

std::unique_ptr<Cursor> ReportDatabase::OpenBulkQuery(const std::string& statement,
                                                      const std::vector<std::string>& texts) {
  return Session().OpenBoundBulkQuery(statement, texts);
}

void ReportDatabase::ExecuteStatement(const std::string& statement, const std::vector<std::string>& texts) {
  Session().ExecuteBound(statement, texts);
}

const std::string& ReportDatabase::EqualTimesOrder(std::string_view table) {
  if (const auto known = impl_->equalTimesOrder.find(table); known != impl_->equalTimesOrder.end()) {
    return known->second;
  }
  static const std::string kNone;
  const char* column = Session().StoredOrderColumn();
  if (column == nullptr) return kNone;
  try {
    OpenQuery(fmt::format("select {} from {} where 1=0", column, table))->Close();
  } catch (const DatabaseError&) {
    // A view, a table without the column, or a table not (yet) there: the
    // database's own order, asked again next time.
    return kNone;
  }
  return impl_->equalTimesOrder.emplace(std::string(table), fmt::format(", {}", column)).first->second;
}

BackendSession& ReportDatabase::Session() {
  if (!impl_->session) throw DatabaseError("no database session is open");
  return *impl_->session;
}

soci::session& ReportDatabase::Native() { return Session().Sql(); }

StatementGuard& ReportDatabase::Guard() { return impl_->guard; }

std::unique_ptr<RunStore> OpenRunStore(ReportDatabase& db, Diagnostics& diagnostics) {
  return db.Session().OpenRunStore(db, diagnostics);
}

}  // namespace cuserver
