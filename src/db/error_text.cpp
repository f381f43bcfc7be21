#include <fmt/format.h>
#include <soci/mysql/soci-mysql.h>
#include <soci/odbc/soci-odbc.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "db/driver_error.hpp"
#include "db/session.hpp"

namespace cuserver {

std::string DatabaseErrorText(const DatabaseError& error) {
  std::string text = error.what();
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  if (!text.empty() || !error.Code()) return text;
  // Only a result code: the two forms the program has always shown.
  const auto hr = static_cast<std::uint32_t>(*error.Code());
  if (hr >= 0x80040201u && hr <= 0x8004FFFFu) return fmt::format("IDispatch error #{}", hr - 0x80040200u);
  return fmt::format("Unknown error 0x{:X}", hr);
}

DatabaseErrorKind KindOfSqlState(std::string_view state) {
  if (state.starts_with("08")) return DatabaseErrorKind::ConnectionLost;
  if (state.starts_with("22") || state.starts_with("23")) return DatabaseErrorKind::RowRefused;
  if (state == "42P01" || state == "42S02") return DatabaseErrorKind::MissingTable;
  return DatabaseErrorKind::Other;
}

DatabaseErrorKind KindOfSqliteError(int code, std::string_view message) {
  switch (code & 0xff) {
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_TOOBIG:
    case SQLITE_RANGE: return DatabaseErrorKind::RowRefused;
    default:
      return message.starts_with("no such table") ? DatabaseErrorKind::MissingTable : DatabaseErrorKind::Other;
  }
}

DatabaseErrorKind KindOfMysqlError(unsigned code) {
  switch (code) {
    case 1053:  // the server is shutting down
    case 1927:  // the connection was killed
    case 2002: case 2003: case 2006: case 2013: case 2055:
      return DatabaseErrorKind::ConnectionLost;
    case 1146:  // no such table
      return DatabaseErrorKind::MissingTable;
    case 1048:  // NULL into NOT NULL
    case 1062:  // a duplicate key
    case 1264:  // out of range
    case 1265:  // truncated
    case 1292:  // an incorrect time or number
    case 1366:  // an incorrect value for the column's type
    case 1406:  // too long for the column
    case 3819:  // a check constraint (MySQL)
    case 4025:  // a check constraint (MariaDB)
      return DatabaseErrorKind::RowRefused;
    default:
      return DatabaseErrorKind::Other;
  }
}

namespace {

struct DriverCode {
  DatabaseErrorKind kind = DatabaseErrorKind::Other;
  std::string native;
};

// What the backend's own error says of the failure.
DriverCode DriverCodeOf(const soci::soci_error& error) {
  if (const auto* pg = dynamic_cast<const soci::postgresql_soci_error*>(&error)) {
    const std::string state = pg->sqlstate();
    return {KindOfSqlState(state), state};
  }
  if (const auto* odbc = dynamic_cast<const soci::odbc_soci_error*>(&error)) {
    const std::string state(reinterpret_cast<const char*>(odbc->odbc_error_code()));
    return {KindOfSqlState(state), state};
  }
  if (const auto* my = dynamic_cast<const soci::mysql_soci_error*>(&error)) {
    return {KindOfMysqlError(static_cast<unsigned>(my->err_num_)), std::to_string(my->err_num_)};
  }
  if (const auto* lite = dynamic_cast<const soci::sqlite3_soci_error*>(&error)) {
    const int code = lite->result();
    const DatabaseErrorKind kind = KindOfSqliteError(code, error.get_error_message());
    return {kind, std::to_string(code)};
  }
  switch (error.get_error_category()) {
    case soci::soci_error::connection_error: return {DatabaseErrorKind::ConnectionLost, {}};
    case soci::soci_error::constraint_violation: return {DatabaseErrorKind::RowRefused, {}};
    default: return {};
  }
}

// The driver's message on one line: its lines joined with "; ", leaving out
// the caret lines that point into the statement.
std::string OneLine(std::string_view message) {
  std::string out;
  while (!message.empty()) {
    const auto end = message.find('\n');
    std::string_view line = message.substr(0, end);
    message.remove_prefix(end == std::string_view::npos ? message.size() : end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.find_first_not_of("^ ") == std::string_view::npos) continue;
    if (!out.empty()) out += "; ";
    out += line;
  }
  return out;
}

}  // namespace

void RethrowAsDatabaseError(std::string_view context) {
  const auto withContext = [&](const std::string& message) {
    if (context.empty()) return OneLine(message);
    return std::string(context) + ": " + OneLine(message);
  };
  try {
    throw;
  } catch (const DatabaseError&) {
    throw;
  } catch (const soci::soci_error& e) {
    DriverCode code = DriverCodeOf(e);
    throw DatabaseError(withContext(e.get_error_message()), std::nullopt, code.kind, std::move(code.native));
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw DatabaseError(withContext(e.what()));
  }
}

}  // namespace cuserver
