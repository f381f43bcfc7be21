#include <soci/odbc/soci-odbc.h>
#include <soci/soci.h>
#include <sql.h>
#include <sqlext.h>

#include "db/backend_session.hpp"
#include "db/dialect.hpp"
#include "db/driver_error.hpp"
#include "db/mysql/mysql.hpp"
#include "db/odbc/odbc.hpp"
#include "db/postgresql/postgresql.hpp"
#include "db/vehicle_day_store.hpp"

namespace cuserver {

std::unique_ptr<RunStore> OpenOdbcRunStore(ReportDatabase& db);

namespace {

// The driver keeps the transaction state itself (autocommit), and speaks
// the dialect of the DBMS behind it.
class OdbcSession : public BackendSession {
 public:
  OdbcSession(std::unique_ptr<soci::session> sql, SqlDialect dialect)
      : BackendSession(std::move(sql)), dialect_(dialect) {}

  SqlDialect Dialect() const override { return dialect_; }
  bool Alive() override {
    try {
      int one = 0;
      Sql() << (dialect_ == SqlDialect::Oracle ? "SELECT 1 FROM DUAL" : "SELECT 1"), soci::into(one);
      return true;
    } catch (...) {
      return false;
    }
  }
  bool AnswersBoundRowsTruly() const override { return dialect_ != SqlDialect::Mysql; }
  void Begin() override { Run([this] { Sql().begin(); }); }
  void Commit() override { Run([this] { Sql().commit(); }); }
  void Rollback() override { Run([this] { Sql().rollback(); }); }
  std::unique_ptr<RunStore> OpenRunStore(ReportDatabase& db, Diagnostics&) override { return OpenOdbcRunStore(db); }

 private:
  template <class Call>
  static void Run(Call&& call) {
    try {
      call();
    } catch (...) {
      RethrowAsDatabaseError();
    }
  }

  SqlDialect dialect_;
};

}  // namespace

std::string OdbcDbmsName(soci::session& session) {
  if (session.get_backend_name() != "odbc") return {};
  auto* backend = static_cast<soci::odbc_session_backend*>(session.get_backend());
  SQLCHAR name[256] = {};
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLGetInfo(backend->hdbc_, SQL_DBMS_NAME, name, sizeof name, &length);
  if (!SQL_SUCCEEDED(rc)) return {};
  return std::string(reinterpret_cast<const char*>(name));
}

OdbcDbms OdbcDbmsOf(soci::session& session) {
  if (session.get_backend_name() != "odbc") return OdbcDbms::Other;
  const auto dialect = DialectOfDbmsName(OdbcDbmsName(session));
  if (!dialect) return OdbcDbms::Other;
  switch (*dialect) {
    case SqlDialect::Oracle: return OdbcDbms::Oracle;
    case SqlDialect::Postgresql: return OdbcDbms::Postgresql;
    case SqlDialect::Mysql: return OdbcDbms::Mysql;
    case SqlDialect::Sqlite: return OdbcDbms::Sqlite;
  }
  return OdbcDbms::Other;
}

std::unique_ptr<BackendSession> OpenOdbcSession(const ConnectionSettings& settings) {
  std::unique_ptr<soci::session> sql = OpenSociSession(settings);
  // The dialect is the one the driver reports unless the settings name one;
  // a DBMS of no known dialect is not guessed at.
  const std::string dbms = OdbcDbmsName(*sql);
  const std::optional<SqlDialect> dialect = settings.dialect ? settings.dialect : DialectOfDbmsName(dbms);
  if (!dialect) throw SettingsError(UnknownDbmsMessage(dbms));
  const int limit = settings.statementTimeoutSeconds;
  switch (*dialect) {
      // SOCI sets no query timeout on ODBC statements; a PostgreSQL, MySQL
      // or MariaDB server behind the driver limits them itself, others don't.
      case SqlDialect::Postgresql:
        try {
          *sql << PostgresStatementTimeout(limit);
        } catch (...) {
          RethrowAsDatabaseError("setting the statement timeout");
        }
        break;
      case SqlDialect::Mysql:
        SetUpMysqlSession(*sql, limit);
        break;
      case SqlDialect::Oracle:
        // Report rows carry their times as text; Oracle must read that text
        // in DATE columns (ParkingLog) whatever the server's default format is.
        try {
          *sql << "ALTER SESSION SET NLS_DATE_FORMAT='YYYY-MM-DD HH24:MI:SS'";
        } catch (...) {
          RethrowAsDatabaseError("setting the session's date format");
        }
        break;
      case SqlDialect::Sqlite:
        break;
  }
  return std::make_unique<OdbcSession>(std::move(sql), *dialect);
}

}  // namespace cuserver
