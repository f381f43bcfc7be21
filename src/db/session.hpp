#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "reports/text_number.hpp"
#include "reports/track.hpp"

namespace soci {
class session;
}

namespace cuserver {

class BackendSession;
class StatementGuard;
class WaitClock;

enum class Backend { Sqlite3, Postgresql, Odbc, Mysql };

// The SQL a table definition is written in. Statements other than table
// definitions are the same on every backend.
enum class SqlDialect { Oracle, Sqlite, Postgresql, Mysql };

// Connection settings of gpsserver.ini, section General.
struct ConnectionSettings {
  Backend backend = Backend::Sqlite3;  // key Backend: sqlite3 (default), postgresql, odbc, mysql
  std::string userId;                  // USERID
  std::string password;                // Password
  std::string dataSource;              // DataSource: SQLite file (relative to the start
                                       // directory), libpq string or service, ODBC DSN,
                                       // MySQL "host=... port=... dbname=..."
  int reconnectSeconds = 600;          // ReconnectSeconds: how long a lost connection is
                                       // tried again before the work stops
  int statementTimeoutSeconds = 900;   // StatementTimeoutSeconds: the longest a statement may
                                       // run or wait for a lock; 0 = no limit
  // SQLite only. Whether opening creates a missing file as an empty
  // database; ReadConnectionSettings clears it, so that a mistyped DataSource
  // is refused, and the commands that make a database set it again.
  bool createSqliteFile = true;
  // SQLite only. Whether the session must be able to write: a file, or a
  // folder for its journal, that cannot be written is then refused.
  bool writesSqliteFile = true;
  // SQLite only. The clock a session waits on for another connection's
  // lock; null is the machine's. Tests set their own.
  WaitClock* sqliteWaitClock = nullptr;
  // Dialect: the SQL the database is written to in (oracle, postgresql,
  // mysql, sqlite). Unset, an ODBC session takes it from the DBMS its
  // driver reports; the other backends have their own and ignore the key.
  std::optional<SqlDialect> dialect = std::nullopt;
};

// The settings for a command that makes the database: a missing SQLite file
// is created.
inline ConnectionSettings AllowingNewSqliteFile(ConnectionSettings settings) {
  settings.createSqliteFile = true;
  return settings;
}

// The settings file is missing, unreadable or incomplete; the message says
// which file and which key.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the connection settings. Throws SettingsError for a missing or
// unreadable file, an unknown Backend, a missing key that the backend needs,
// or a number of seconds that is not a whole number from 0 up.
ConnectionSettings ReadConnectionSettings(const std::filesystem::path& gpsserverIni,
                                          const std::filesystem::path& startDirectory);

// What a database failure means for the work that met it.
enum class DatabaseErrorKind {
  ConnectionLost,  // the session is gone: open it again, the work may be repeated
  RowRefused,      // the statement's values broke a rule of the table: the others go on
  MissingTable,    // the statement names a table that does not exist
  // The server took the whole transaction back (a deadlock, a lock wait that
  // timed out); the session lives and the work may be repeated.
  TransactionLost,
  Other,
};

// A database failure, keeping the driver's message and, where it has one, its
// numeric code; its kind, and the driver's own code for it (an SQLSTATE, or
// the driver's error number as text).
class DatabaseError : public std::runtime_error {
 public:
  DatabaseError(const std::string& message, std::optional<long> code = std::nullopt,
                DatabaseErrorKind kind = DatabaseErrorKind::Other, std::string nativeCode = {})
      : std::runtime_error(message), code_(code), kind_(kind), nativeCode_(std::move(nativeCode)) {}
  std::optional<long> Code() const { return code_; }
  DatabaseErrorKind Kind() const { return kind_; }
  const std::string& NativeCode() const { return nativeCode_; }

 private:
  std::optional<long> code_;
  DatabaseErrorKind kind_;
  std::string nativeCode_;
};

// The kind an SQLSTATE stands for: class 08 a lost connection, 22 and 23
// refused values, 42P01 and 42S02 a missing table.
DatabaseErrorKind KindOfSqlState(std::string_view sqlState);

// The kind an SQLite result code stands for (its message tells a missing table).
DatabaseErrorKind KindOfSqliteError(int code, std::string_view message);

// The kind a MySQL or MariaDB error number stands for.
DatabaseErrorKind KindOfMysqlError(unsigned code);

// The text shown for a database error: the driver's own message; for an error
// that carries only a numeric code, "IDispatch error #%d" or "Unknown error 0x%0lX".
std::string DatabaseErrorText(const DatabaseError& error);

// Why an ODBC data source of a DBMS without a known dialect is refused: the
// DBMS as its driver named it and the key that names the dialect.
std::string UnknownDbmsMessage(std::string_view dbms);

// A forward-only cursor over the rows of one query.
class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual bool AtEnd() const = 0;
  // The value of a column of the current row, matched by name without regard to
  // case; nullopt for NULL. Numbers come as their shortest decimal text.
  // Throws DatabaseError for an unknown column.
  virtual std::optional<std::string> Value(std::string_view column) const = 0;
  // The same value put into `text`, reusing its storage (for loops that read
  // many rows into reused slots); a NULL leaves `text` empty and gives false.
  virtual bool ValueInto(std::string_view column, std::string& text) const {
    auto value = Value(column);
    if (!value) {
      text.clear();
      return false;
    }
    text = std::move(*value);
    return true;
  }
  // A numeric column of a fix: its text, or the database's own number whose
  // text is made only when asked for. A NULL is held as NULL: the empty text
  // and 0, told apart from a stored empty text.
  virtual void FixValueInto(std::string_view column, FixValue& value) const {
    std::string text;
    if (ValueInto(column, text)) {
      value.SetText(text);
    } else {
      value.SetNull();
    }
  }
  // Rows read by the thousand name their columns once: Place gives a
  // column's place in the row (-1 when the query has none, or when the cursor
  // reads by name only), and the *At readers read the current row's value
  // there as ValueInto and FixValueInto do.
  virtual int Place(std::string_view column) const {
    (void)column;
    return -1;
  }
  virtual bool ValueAtInto(int place, std::string& text) const;
  virtual void FixValueAt(int place, FixValue& value) const;
  // Whether ValueAtInto would give exactly `text`, without making it.
  virtual bool ValueAtEquals(int place, std::string_view text) const {
    std::string value;
    ValueAtInto(place, value);
    return value == text;
  }
  virtual void Next() = 0;
  virtual void Close() = 0;
};

// Every SQLite connection of this program is used by one thread at a time (a
// session belongs to its thread; the one a day run's workers write through is
// taken under the writer's lock), so SQLite need not lock a connection around
// each of its calls, and reading a column is a call. To be asked before
// anything in the process uses SQLite (the map library's coordinate system
// database does); asked later it changes nothing, which only costs time.
// Opening an SQLite session asks it too.
void UseSqliteWithoutConnectionLocks();

// The report database session. Each opening replaces the previous connection.
class ReportDatabase {
 public:
  ReportDatabase();
  ~ReportDatabase();
  ReportDatabase(const ReportDatabase&) = delete;
  ReportDatabase& operator=(const ReportDatabase&) = delete;

  // Drops the current connection and opens a new one. Throws DatabaseError
  // with the driver's reason when the database refuses it, and for SQLite
  // when the file is missing (unless settings.createSqliteFile) or cannot be
  // written (when settings.writesSqliteFile), naming its absolute path. The session's
  // statements are limited to settings.statementTimeoutSeconds: PostgreSQL
  // by statement_timeout and, for a server that cannot answer at all, by
  // closing the connection; MySQL and MariaDB by the server's statement
  // and lock wait limits; SQLite waits that long for a locked file; ODBC
  // statements only when the data source is a PostgreSQL, MySQL or MariaDB
  // server. An ODBC data source whose DBMS has no known dialect, and no
  // Dialect set, is refused with a SettingsError naming the DBMS.
  void OpenReportSession(const ConnectionSettings& settings);
  bool IsOpen() const;
  // Whether the session can still run a trivial statement (SQLite: whether it
  // is open). Never throws.
  bool Alive();
  Backend GetBackend() const;
  // The dialect of the open session: the settings' Dialect, else the
  // backend's own, else (ODBC) the one of the DBMS the driver reports.
  SqlDialect Dialect() const;

  // Opens a query. Throws DatabaseError when it cannot be opened.
  std::unique_ptr<Cursor> OpenQuery(const std::string& statement);
  // OpenQuery for a query of many rows read by place (Cursor::Place), such as
  // a day's fixes: on PostgreSQL the values come in binary where every
  // column's type allows it, so that the server prints no number for the
  // reader to parse back. The rows read as OpenQuery's would.
  std::unique_ptr<Cursor> OpenBulkQuery(const std::string& statement);
  // Runs a statement that returns no rows. Throws DatabaseError.
  void ExecuteStatement(const std::string& statement);

  // The same three with values bound, never spliced into the SQL text: every
  // value that comes from outside (a request of the control page, a file)
  // goes this way. Each `?` of the statement, outside quoted texts, quoted
  // names and comments, takes the next of `texts`, on every backend; a
  // statement without one `?` per text is refused with a DatabaseError. A
  // text is bound as a value of no declared type, so the database compares
  // it with a column as it compares a quoted literal there ('0139' equals
  // 139 in a number column). A text holding a NUL byte is taken whole by
  // SQLite; the other backends refuse it (DatabaseError, RowRefused) rather
  // than cut it there: PostgreSQL cannot hold one, and the MySQL and ODBC
  // drivers end a text at it.
  std::unique_ptr<Cursor> OpenQuery(const std::string& statement, const std::vector<std::string>& texts);
  std::unique_ptr<Cursor> OpenBulkQuery(const std::string& statement, const std::vector<std::string>& texts);
  void ExecuteStatement(const std::string& statement, const std::vector<std::string>& texts);

  // What follows "order by time asc" in a query of `table` so that rows with
  // equal times come in the order the table stores them, the same in every
  // query: ", rowid" on SQLite, ", ctid" on PostgreSQL, nothing where the
  // table has no such column (a view) or the backend none (MySQL: a table
  // without a key is read in the order its rows were written). Asked of the
  // database once per session and table.
  const std::string& EqualTimesOrder(std::string_view table);

  // The backend's own session. Throws DatabaseError when none is open.
  BackendSession& Session();
  soci::session& Native();
  // The watch that ends a statement on a PostgreSQL server that does not
  // answer; code that calls libpq itself runs its calls through it.
  StatementGuard& Guard();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace cuserver
