#include "db/mysql/mysql.hpp"

#include <fmt/format.h>
#include <soci/mysql/soci-mysql.h>
#include <soci/soci.h>

#include <algorithm>

#include "db/backend_session.hpp"
#include "db/driver_error.hpp"
#include "db/vehicle_day_store.hpp"
#include "db/value_text.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {

std::unique_ptr<RunStore> OpenMysqlRunStore(ReportDatabase& db);

namespace {

class MysqlSession : public BackendSession {
 public:
  using BackendSession::BackendSession;

  SqlDialect Dialect() const override { return SqlDialect::Mysql; }
  bool Alive() override {
    try {
      int one = 0;
      Sql() << "SELECT 1", soci::into(one);
      return true;
    } catch (...) {
      return false;
    }
  }
  std::unique_ptr<RunStore> OpenRunStore(ReportDatabase& db, Diagnostics&) override { return OpenMysqlRunStore(db); }
};

}  // namespace

std::unique_ptr<BackendSession> OpenMysqlSession(const ConnectionSettings& settings) {
  auto session = std::make_unique<MysqlSession>(OpenSociSession(settings));
  SetUpMysqlSession(session->Sql(), settings.statementTimeoutSeconds);
  return session;
}

void SetUpMysqlSession(soci::session& sql, int seconds) {
  seconds = std::max(seconds, 0);
  try {
    sql << "SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')";
    // As on Oracle and PostgreSQL: a statement sees what others committed
    // before it began, and a search locks only the rows it finds, so that
    // workers writing other vehicles' rows into one table do not deadlock
    // on the gaps between them.
    sql << "SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED";
  } catch (...) {
    RethrowAsDatabaseError("setting the session's SQL mode");
  }
  try {
    try {
      sql << fmt::format("SET SESSION max_statement_time = {}", seconds);
    } catch (const soci::soci_error&) {
      // MySQL: milliseconds, and for SELECT only.
      sql << fmt::format("SET SESSION max_execution_time = {}", std::int64_t{seconds} * 1000);
    }
    // Its greatest value is the server's "no limit".
    sql << fmt::format("SET SESSION innodb_lock_wait_timeout = {}", seconds == 0 ? 1073741824 : seconds);
  } catch (...) {
    RethrowAsDatabaseError("setting the statement timeout");
  }
}

std::map<std::string, ColumnType> MysqlColumnTypes(ReportDatabase& db, const std::string& table) {
  std::map<std::string, ColumnType> columns;
  auto cursor = db.OpenQuery(fmt::format(
      "select column_name as column_name, data_type as data_type, numeric_precision as numeric_precision, "
      "numeric_scale as numeric_scale from information_schema.columns "
      "where table_schema = database() and table_name = {}",
      SqlLiteral(table)));
  for (; !cursor->AtEnd(); cursor->Next()) {
    const std::string type = LowerAscii(cursor->Value("data_type").value_or(""));
    ColumnType column;
    column.textual = type.find("char") != std::string::npos || type.find("text") != std::string::npos;
    if (type == "decimal") {
      column.cast = fmt::format("decimal({},{})", cursor->Value("numeric_precision").value_or("65"),
                                cursor->Value("numeric_scale").value_or("0"));
    } else if (type == "datetime" || type == "date") {
      column.cast = type;
    }
    columns[LowerAscii(cursor->Value("column_name").value_or(""))] = column;
  }
  cursor->Close();
  return columns;
}

bool MysqlTransactionLost(ReportDatabase& db, const DatabaseError& error) {
  // The server's error number natively (a deadlock, a lock wait that timed
  // out); through ODBC the driver's SQLSTATE for them.
  const std::string& code = error.NativeCode();
  if (db.GetBackend() == Backend::Mysql) return code == "1213" || code == "1205";
  return code == "40001" || code == "HYT00";
}

bool MysqlIndexExists(ReportDatabase& db, const std::string& table, const std::string& index) {
  auto found = db.OpenQuery(fmt::format(
      "select 1 as found from information_schema.statistics where table_schema = database() and table_name = {} "
      "and index_name = {}",
      SqlLiteral(table), SqlLiteral(index)));
  const bool exists = !found->AtEnd();
  found->Close();
  return exists;
}

}  // namespace cuserver
