#include "db/session.hpp"

// SOCI's PostgreSQL header for the connection's own handle: its socket, its
// statement timeout, the liveness check.
#include <fcntl.h>
#include <fmt/format.h>
#include <libpq-fe.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "db/connect_string.hpp"
#include "db/cursors.hpp"
#include "db/dialect.hpp"
#include "db/driver_error.hpp"
#include "db/mysql/mysql_session.hpp"
#include "db/statement_guard.hpp"

namespace cuserver {
namespace {

using PgResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

PGconn* PostgresConnection(soci::session& sql) {
  return static_cast<soci::postgresql_session_backend*>(sql.get_backend())->conn_;
}

// Seconds from 0 as the milliseconds an int holds, the most when they don't fit.
int Milliseconds(int seconds) {
  return static_cast<int>(std::clamp<std::int64_t>(std::int64_t{seconds} * 1000, 0, INT_MAX));
}

std::string StatementTimeoutStatement(int seconds) {
  return "SET statement_timeout = " + std::to_string(Milliseconds(seconds));
}

void LimitPostgresStatements(soci::session& sql, StatementGuard& guard, int seconds) {
  PGconn* conn = PostgresConnection(sql);
  guard.Watch(PQsocket(conn), seconds);
  const std::string statement = StatementTimeoutStatement(seconds);
  PgResult result = guard.Run([&] { return PgResult(PQexec(conn, statement.c_str()), &PQclear); });
  if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
    std::string reason = result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    throw DatabaseError("setting the statement timeout: " + reason);
  }
}

// Called by SQLite while another connection holds the lock it needs; `limit`
// carries the milliseconds to wait in all. SQLite's own handler sleeps 1, 2,
// 5 ... up to 100 ms between tries, made for other processes. Within a run,
// workers meet each other's commits, which last tens of milliseconds, and a
// worker could wake as many again after the commit had ended, its core idle
// meanwhile. Tries here come after 0.1 ms, doubling up to one every 2 ms.
int WaitForSqliteLock(void* limit, int tries) {
  constexpr std::int64_t kFirstMicros = 100, kMostMicros = 2000, kDoublings = 5;
  const std::int64_t limitMicros = std::int64_t{static_cast<int>(reinterpret_cast<std::intptr_t>(limit))} * 1000;
  const std::int64_t n = tries;
  const std::int64_t waited = n <= kDoublings ? kFirstMicros * ((std::int64_t{1} << n) - 1)
                                              : kFirstMicros * ((std::int64_t{1} << kDoublings) - 1) +
                                                    (n - kDoublings) * kMostMicros;
  std::int64_t next = n < kDoublings ? kFirstMicros << n : kMostMicros;
  next = std::min(next, limitMicros - waited);
  if (next <= 0) return 0;
  std::this_thread::sleep_for(std::chrono::microseconds(next));
  return 1;
}

void LimitSqliteWaits(soci::session& sql, int seconds) {
  // 0 is no limit: a locked file is waited for as long as it takes.
  const int limit = seconds == 0 ? INT_MAX : Milliseconds(seconds);
  sqlite3_busy_handler(SqliteConnection(sql), WaitForSqliteLock, reinterpret_cast<void*>(std::intptr_t{limit}));
}

// Refuses a missing file before SQLite would make it an empty database.
void RequireSqliteFile(const std::string& dataSource) {
  std::error_code ec;
  std::filesystem::path file = std::filesystem::absolute(dataSource, ec);
  if (ec) file = dataSource;
  file = file.lexically_normal();
  const auto status = std::filesystem::status(file, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    throw DatabaseError(fmt::format("SQLite database file {} does not exist", file.string()));
  }
  if (ec) throw DatabaseError(fmt::format("SQLite database file {} cannot be reached: {}", file.string(), ec.message()));
}

// SQLite opens a file that the process may not write read-only, and writes
// its journal into the file's folder. Both are asked of the kernel rather than
// read from permission bits, so that they hold for root too: a read-only
// mount or an immutable file stops root, permission bits do not.
void RequireWritableSqlite(soci::session& sql) {
  ::sqlite3* handle = SqliteConnection(sql);
  const char* name = sqlite3_db_filename(handle, "main");
  const std::filesystem::path file = name != nullptr ? name : "";
  if (sqlite3_db_readonly(handle, "main") == 1) {
    throw DatabaseError(fmt::format("SQLite database file {} cannot be written", file.string()));
  }
  if (file.empty()) return;  // a database in memory
  const std::filesystem::path folder = file.parent_path();
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    const std::error_code error(errno, std::generic_category());
    throw DatabaseError(fmt::format("the folder {} of SQLite database file {} cannot be written ({}); SQLite keeps "
                                    "its journal there",
                                    folder.string(), file.string(), error.message()));
  }
}

}  // namespace

void UseSqliteWithoutConnectionLocks() {
  static std::once_flag once;
  std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MULTITHREAD); });
}

bool Cursor::ValueAtInto(int place, std::string& text) const {
  (void)text;
  throw DatabaseError("this cursor reads its columns by name only (place " + std::to_string(place) + ")");
}

void Cursor::FixValueAt(int place, FixValue& value) const {
  (void)value;
  throw DatabaseError("this cursor reads its columns by name only (place " + std::to_string(place) + ")");
}

struct ReportDatabase::Impl {
  ~Impl() { guard.Unwatch(); }

  std::unique_ptr<soci::session> sql;
  Backend backend = Backend::Sqlite3;
  SqlDialect dialect = SqlDialect::Sqlite;
  bool oracle = false;
  // A many-rows query found a column that binary values do not serve: the
  // session's next ones ask for text straight away.
  bool bulkAsText = false;
  // EqualTimesOrder of the tables asked about.
  std::map<std::string, std::string, std::less<>> equalTimesOrder;
  // Unwatched before its connection closes.
  StatementGuard guard;
};

ReportDatabase::ReportDatabase() : impl_(std::make_unique<Impl>()) {}
ReportDatabase::~ReportDatabase() = default;

void ReportDatabase::OpenReportSession(const ConnectionSettings& settings) {
  // The old connection goes first, also when the new one is refused.
  impl_->guard.Unwatch();
  impl_->sql.reset();
  impl_->backend = settings.backend;
  impl_->dialect = DialectOf(settings.backend);
  impl_->oracle = false;
  impl_->bulkAsText = false;
  impl_->equalTimesOrder.clear();
  if (settings.backend == Backend::Sqlite3 && !settings.createSqliteFile) RequireSqliteFile(settings.dataSource);
  if (settings.backend == Backend::Sqlite3) UseSqliteWithoutConnectionLocks();
  auto sql = std::make_unique<soci::session>();
  try {
    // psqlODBC's connect sets the process's locale and reads it back, which
    // two threads must not do at once (workers open their sessions side by
    // side): ODBC connections are opened one at a time.
    static std::mutex odbcConnects;
    std::unique_lock oneAtATime(odbcConnects, std::defer_lock);
    if (settings.backend == Backend::Odbc) oneAtATime.lock();
    sql->open(SociBackendName(settings.backend), SessionConnectString(settings));
  } catch (...) {
    RethrowAsDatabaseError();
  }
  const int limit = settings.statementTimeoutSeconds;
  switch (settings.backend) {
    case Backend::Sqlite3:
      LimitSqliteWaits(*sql, limit);
      if (settings.writesSqliteFile) RequireWritableSqlite(*sql);
      break;
    case Backend::Postgresql:
      try {
        LimitPostgresStatements(*sql, impl_->guard, limit);
      } catch (...) {
        impl_->guard.Unwatch();
        throw;
      }
      break;
    case Backend::Mysql:
      SetUpMysqlSession(*sql, limit);
      break;
    case Backend::Odbc: {
      // The dialect is the one the driver reports unless the settings name
      // one; a DBMS of no known dialect is not guessed at.
      const std::string dbms = OdbcDbmsName(*sql);
      const std::optional<SqlDialect> dialect = settings.dialect ? settings.dialect : DialectOfDbmsName(dbms);
      if (!dialect) throw SettingsError(UnknownDbmsMessage(dbms));
      impl_->dialect = *dialect;
      impl_->oracle = *dialect == SqlDialect::Oracle;
      // SOCI sets no query timeout on ODBC statements; a PostgreSQL, MySQL
      // or MariaDB server behind the driver limits them itself, others don't.
      if (*dialect == SqlDialect::Postgresql) {
        try {
          *sql << StatementTimeoutStatement(limit);
        } catch (...) {
          RethrowAsDatabaseError("setting the statement timeout");
        }
      } else if (*dialect == SqlDialect::Mysql) {
        SetUpMysqlSession(*sql, limit);
      }
      break;
    }
  }
  if (impl_->oracle) {
    // Report rows carry their times as text; Oracle must read that text in
    // DATE columns (ParkingLog) whatever the server's default format is.
    try {
      *sql << "ALTER SESSION SET NLS_DATE_FORMAT='YYYY-MM-DD HH24:MI:SS'";
    } catch (...) {
      RethrowAsDatabaseError("setting the session's date format");
    }
  }
  impl_->sql = std::move(sql);
}

bool ReportDatabase::IsOpen() const { return impl_->sql != nullptr; }

bool ReportDatabase::Alive() {
  if (!impl_->sql) return false;
  try {
    switch (impl_->backend) {
      case Backend::Sqlite3:
        return true;
      case Backend::Postgresql: {
        PGconn* conn = PostgresConnection(*impl_->sql);
        if (PQstatus(conn) != CONNECTION_OK) return false;
        PgResult result = impl_->guard.Run([&] { return PgResult(PQexec(conn, "SELECT 1"), &PQclear); });
        return PQresultStatus(result.get()) == PGRES_TUPLES_OK;
      }
      case Backend::Mysql:
      case Backend::Odbc: {
        int one = 0;
        *impl_->sql << (impl_->oracle ? "SELECT 1 FROM DUAL" : "SELECT 1"), soci::into(one);
        return true;
      }
    }
  } catch (...) {
    // Whatever the failure, the session cannot run statements.
  }
  return false;
}

Backend ReportDatabase::GetBackend() const { return impl_->backend; }

SqlDialect ReportDatabase::Dialect() const { return impl_->dialect; }

std::string UnknownDbmsMessage(std::string_view dbms) {
  return fmt::format(
      "the ODBC data source reaches the DBMS \"{}\", whose SQL this program does not know; if it speaks one it "
      "knows, name it with the key Dialect of section General (oracle, postgresql, mysql or sqlite)",
      dbms.empty() ? "(not named by the driver)" : std::string(dbms));
}

std::unique_ptr<Cursor> ReportDatabase::OpenQuery(const std::string& statement) {
  soci::session& sql = Native();
  if (impl_->backend == Backend::Sqlite3) return OpenSqliteCursor(SqliteConnection(sql), statement);
  return impl_->guard.Run([&] {
    if (impl_->backend == Backend::Postgresql) {
      if (auto cursor = OpenPostgresCursor(sql, statement)) return cursor;
    }
    return OpenSociCursor(sql, statement);
  });
}

std::unique_ptr<Cursor> ReportDatabase::OpenBulkQuery(const std::string& statement) {
  if (impl_->backend == Backend::Postgresql && !impl_->bulkAsText) {
    soci::session& sql = Native();
    auto cursor = impl_->guard.Run([&] { return OpenPostgresBinaryCursor(sql, statement); });
    if (cursor) return cursor;
    impl_->bulkAsText = true;
  }
  return OpenQuery(statement);
}

void ReportDatabase::ExecuteStatement(const std::string& statement) {
  soci::session& sql = Native();
  if (impl_->backend == Backend::Sqlite3) {
    OpenSqliteCursor(SqliteConnection(sql), statement)->Close();
    return;
  }
  impl_->guard.Run([&] {
    try {
      sql << statement;
    } catch (...) {
      RethrowAsDatabaseError();
    }
  });
}

const std::string& ReportDatabase::EqualTimesOrder(std::string_view table) {
  if (const auto known = impl_->equalTimesOrder.find(table); known != impl_->equalTimesOrder.end()) {
    return known->second;
  }
  static const std::string kNone;
  const char* column = impl_->backend == Backend::Sqlite3      ? "rowid"
                       : impl_->backend == Backend::Postgresql ? "ctid"
                                                               : nullptr;
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

soci::session& ReportDatabase::Native() {
  if (!impl_->sql) throw DatabaseError("no database session is open");
  return *impl_->sql;
}

StatementGuard& ReportDatabase::Guard() { return impl_->guard; }

}  // namespace cuserver
