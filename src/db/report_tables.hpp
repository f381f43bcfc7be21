#pragma once

#include <string>

#include "db/session.hpp"
#include "reports/report_tables.hpp"

namespace cuserver {


// Makes sure the named monthly table exists, creating it with the kind's
// columns when the probe fails. Never throws; a table that cannot be created
// shows later as refused rows.
void EnsureReportTable(ReportDatabase& db, ReportTableKind kind, const std::string& tableName);

// The CREATE TABLE text of a kind for a backend: the Oracle text as the
// system has always sent it, mapped for SQLite and PostgreSQL.
std::string CreateTableStatement(ReportTableKind kind, const std::string& tableName, Backend backend);

}  // namespace cuserver
