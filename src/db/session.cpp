#include "db/session.hpp"

#include <soci/soci.h>

#include "db/connect_string.hpp"
#include "db/cursors.hpp"
#include "db/driver_error.hpp"

namespace cuserver {

struct ReportDatabase::Impl {
  std::unique_ptr<soci::session> sql;
  Backend backend = Backend::Sqlite3;
};

ReportDatabase::ReportDatabase() : impl_(std::make_unique<Impl>()) {}
ReportDatabase::~ReportDatabase() = default;

void ReportDatabase::OpenReportSession(const ConnectionSettings& settings) {
  // The old connection goes first, also when the new one is refused.
  impl_->sql.reset();
  impl_->backend = settings.backend;
  auto sql = std::make_unique<soci::session>();
  try {
    sql->open(SociBackendName(settings.backend), SociConnectString(settings));
  } catch (...) {
    RethrowAsDatabaseError();
  }
  if (settings.backend == Backend::Odbc && OdbcDbmsOf(*sql) == OdbcDbms::Oracle) {
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

Backend ReportDatabase::GetBackend() const { return impl_->backend; }

std::unique_ptr<Cursor> ReportDatabase::OpenQuery(const std::string& statement) {
  soci::session& sql = Native();
  if (impl_->backend == Backend::Sqlite3) return OpenSqliteCursor(SqliteConnection(sql), statement);
  if (impl_->backend == Backend::Postgresql) {
    if (auto cursor = OpenPostgresCursor(sql, statement)) return cursor;
  }
  return OpenSociCursor(sql, statement);
}

void ReportDatabase::ExecuteStatement(const std::string& statement) {
  soci::session& sql = Native();
  if (impl_->backend == Backend::Sqlite3) {
    OpenSqliteCursor(SqliteConnection(sql), statement)->Close();
    return;
  }
  try {
    sql << statement;
  } catch (...) {
    RethrowAsDatabaseError();
  }
}

soci::session& ReportDatabase::Native() {
  if (!impl_->sql) throw DatabaseError("no database session is open");
  return *impl_->sql;
}

}  // namespace cuserver
