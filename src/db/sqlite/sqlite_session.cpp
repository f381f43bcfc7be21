#include <fcntl.h>
#include <fmt/format.h>
#include <soci/soci.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>

#include "db/backend_session.hpp"
#include "db/sqlite/sqlite.hpp"
#include "db/vehicle_day_store.hpp"
#include "db/wait_clock.hpp"
#include "reports/translate.hpp"

namespace cuserver {

std::unique_ptr<RunStore> OpenSqliteRunStore(ReportDatabase& db, Diagnostics& diagnostics);

namespace {

// How long a connection waits for another connection's lock, and on which
// clock. It outlives the connection: SqliteSession holds it as its first base.
struct SqliteLockWait {
  std::int64_t limitMicros = 0;
  WaitClock* clock = nullptr;
};

// Called by SQLite while another connection holds the lock it needs; `wait`
// is the connection's SqliteLockWait. SQLite's own handler sleeps 1, 2, 5 ...
// up to 100 ms between tries, made for other processes. Within a run,
// workers meet each other's commits, which last tens of milliseconds, and a
// worker could wake as many again after the commit had ended, its core idle
// meanwhile. Tries here come after 0.1 ms, doubling up to one every 2 ms; the
// time waited is reckoned from the tries, so a try costs one sleep and no
// clock reading.
int WaitForSqliteLock(void* wait, int tries) {
  const SqliteLockWait& lockWait = *static_cast<const SqliteLockWait*>(wait);
  constexpr std::int64_t kFirstMicros = 100, kMostMicros = 2000, kDoublings = 5;
  const std::int64_t n = tries;
  const std::int64_t waited = n <= kDoublings ? kFirstMicros * ((std::int64_t{1} << n) - 1)
                                              : kFirstMicros * ((std::int64_t{1} << kDoublings) - 1) +
                                                    (n - kDoublings) * kMostMicros;
  std::int64_t next = n < kDoublings ? kFirstMicros << n : kMostMicros;
  next = std::min(next, lockWait.limitMicros - waited);
  if (next <= 0) return 0;
  lockWait.clock->SleepFor(std::chrono::microseconds(next));
  return 1;
}

// `seconds` 0 is no limit: a locked file is waited for as long as it takes.
SqliteLockWait SqliteLockWaitOf(const ConnectionSettings& settings) {
  const int seconds = settings.statementTimeoutSeconds;
  const std::int64_t limitMillis =
      seconds == 0 ? INT_MAX : std::clamp<std::int64_t>(std::int64_t{seconds} * 1000, 0, INT_MAX);
  return {limitMillis * 1000, settings.sqliteWaitClock != nullptr ? settings.sqliteWaitClock : &SystemWaitClock()};
}

// Refuses a missing file before SQLite would make it an empty database.
void RequireSqliteFile(const std::string& dataSource) {
  std::error_code ec;
  std::filesystem::path file = std::filesystem::absolute(dataSource, ec);
  if (ec) file = dataSource;
  file = file.lexically_normal();
  const auto status = std::filesystem::status(file, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    throw DatabaseError(TrFormat("SQLite database file {} does not exist", file.string()));
  }
  if (ec) throw DatabaseError(TrFormat("SQLite database file {} cannot be reached: {}", file.string(), ec.message()));
}

// SQLite opens a file that the process may not write read-only, and writes
// its journal into the file's folder. Both are asked of the kernel rather than
// read from permission bits, so that they hold for root too: a read-only
// mount or an immutable file stops root, permission bits do not.
void RequireWritableSqlite(::sqlite3* handle) {
  const char* name = sqlite3_db_filename(handle, "main");
  const std::filesystem::path file = name != nullptr ? name : "";
  if (sqlite3_db_readonly(handle, "main") == 1) {
    throw DatabaseError(TrFormat("SQLite database file {} cannot be written", file.string()));
  }
  if (file.empty()) return;  // a database in memory
  const std::filesystem::path folder = file.parent_path();
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    const std::error_code error(errno, std::generic_category());
    throw DatabaseError(TrFormat(
        "the folder {} of SQLite database file {} cannot be written ({}); SQLite keeps its journal there",
        folder.string(), file.string(), error.message()));
  }
}

// Holds the lock wait before the session's connection is opened and until
// after it is closed.
struct SqliteLockWaitHolder {
  SqliteLockWait lockWait;
};

class SqliteSession : private SqliteLockWaitHolder, public BackendSession {
 public:
  SqliteSession(SqliteLockWait wait, std::unique_ptr<soci::session> sql)
      : SqliteLockWaitHolder{wait}, BackendSession(std::move(sql)), connection_(SqliteConnection(Sql())) {
    sqlite3_busy_handler(connection_, WaitForSqliteLock, &lockWait);
  }

  ::sqlite3* Connection() const { return connection_; }

  SqlDialect Dialect() const override { return SqlDialect::Sqlite; }
  bool Alive() override { return true; }
  std::unique_ptr<Cursor> OpenQuery(const std::string& statement) override {
    return OpenSqliteCursor(connection_, statement);
  }
  void Execute(const std::string& statement) override { OpenSqliteCursor(connection_, statement)->Close(); }
  std::unique_ptr<Cursor> OpenBoundQuery(const std::string& statement, const std::vector<std::string>& texts) override {
    return OpenSqliteCursor(connection_, statement, texts);
  }
  void ExecuteBound(const std::string& statement, const std::vector<std::string>& texts) override {
    OpenSqliteCursor(connection_, statement, texts)->Close();
  }
  const char* StoredOrderColumn() const override { return "rowid"; }
  std::unique_ptr<RunStore> OpenRunStore(ReportDatabase& db, Diagnostics& diagnostics) override {
    return OpenSqliteRunStore(db, diagnostics);
  }

 private:
  ::sqlite3* connection_;
};

}  // namespace

void UseSqliteWithoutConnectionLocks() {
  static std::once_flag once;
  std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MULTITHREAD); });
}

std::unique_ptr<BackendSession> OpenSqliteSession(const ConnectionSettings& settings) {
  if (!settings.createSqliteFile) RequireSqliteFile(settings.dataSource);
  UseSqliteWithoutConnectionLocks();
  auto session = std::make_unique<SqliteSession>(SqliteLockWaitOf(settings), OpenSociSession(settings));
  if (settings.writesSqliteFile) RequireWritableSqlite(session->Connection());
  // The tests' databases are thrown away: CUSERVER_SQLITE_SYNCHRONOUS=OFF
  // spares them a wait for the disk at every commit. Any other value, or
  // none, keeps SQLite's own (FULL).
  if (const char* synchronous = std::getenv("CUSERVER_SQLITE_SYNCHRONOUS");
      synchronous != nullptr && std::string_view(synchronous) == "OFF") {
    session->Execute("PRAGMA synchronous = OFF");
  }
  return session;
}

}  // namespace cuserver
