#include "db/dialect.hpp"

#include <soci/soci.h>

#include <regex>

#include "db/cursors.hpp"
#include "db/driver_error.hpp"

namespace cuserver {

std::string_view OracleCreateTableTemplate(ReportTableKind kind) {
  // As the monthly tables have always been made on Oracle; "%s" is the name.
  switch (kind) {
    case ReportTableKind::AlarmSMS:
      return "CREATE TABLE %s  (\t\t\t\t\tSIMID               VARCHAR2(15 byte),\t\t\t\t\tTIME                  VARCHAR2(20 byte), \t\t\t\t\tSMS             VARCHAR2(200 byte),\t\t\t\t\t\tLONGITUDE    VARCHAR2(20 byte), \t\t\t\tLATITUDE   VARCHAR2(20 byte), \t\t\t\tREMARK               VARCHAR2(20)\t\t\t\t\t)";
    case ReportTableKind::DownloadSMS:
      return "CREATE TABLE %s  (\t\t\t\t\tSIMID               VARCHAR2(15 byte),\t\t\t\t\tTIME                  VARCHAR2(20 byte), \t\t\t\t\tSMS             VARCHAR2(200 byte),\t\t\t\t\t\tREMARK               VARCHAR2(20)\t\t\t\t\t)";
    case ReportTableKind::SpeedAlarm:
      return "CREATE TABLE %s  (\t\t\t\t\tSIMID                NUMBER(15) NOT NULL   ,\t\t\t\t\tSPEED              VARCHAR2(20 byte),\t\t\t\t\tTIMELOG\t\t\tVARCHAR2(20 byte), \t\t\t\tENDTIME           \tVARCHAR2(20 byte),\t\t\t\t\t\tTOTTIME            NUMBER(10),\t\t\t\t\tBOOL  VARCHAR2(10 byte), \t\t\t\tDISTANCE VARCHAR2(10 byte), \t\t\t\tLONGITUDE            VARCHAR2(20 byte),\t\t\t\t\tLATITUDE            VARCHAR2(20 byte),\t\t\t\t\tSPEEDADD            VARCHAR2(30 ),\t\t\t\t\t\t\tREMARK               VARCHAR2(20)\t\t\t\t\t)";
    case ReportTableKind::VehicleDistance:
      return "CREATE TABLE %s  (\t\t\t\t\tSIMID                VARCHAR2(15 byte) NOT NULL, \t\t\t\t\tBEGINTIME              VARCHAR2(20 byte),\t\t\t\tENDTIME             VARCHAR2(20 byte), \t\t\t\t\t\t\tTOTTIME            NUMBER(10),\t\t\t\t\tDISTANCE             NUMBER(10,2),\t\t\t\t\tREMARK               VARCHAR2(20)\t\t\t\t\t)";
    case ReportTableKind::ParkingLog:
      return "CREATE TABLE %s  (\t\t\t\t\tSIMID                NUMBER(11) NOT NULL   ,\t\t\t\t\tBEGINTIME                 DATE,\t\t\t\t\tENDTIME              DATE,\t\t\t\t\t\t\tTOTTIME            NUMBER(10),\t\t\t\t\tLONGITUDE             NUMBER(11,8),\t\t\t\t\tLATITUDE              NUMBER(10, 8),\t\t\t\t\tSTOPADD            VARCHAR2(100 ),\t\t\t\t\t\t\tCURRENTPOI           VARCHAR2(100 ),\t\t\t\t\t\t\tREMARK               VARCHAR2(5)\t\t\t\t\t)";
  }
  return {};
}

std::string MapOracleDdl(std::string_view oracleText, SqlDialect dialect) {
  std::string text(oracleText);
  if (dialect == SqlDialect::Oracle) return text;
  const auto icase = std::regex::ECMAScript | std::regex::icase;
  static const std::regex varchar2(R"(\bVARCHAR2\(\s*(\d+)\s*(?:byte|char)?\s*\))", icase);
  static const std::regex number2(R"(\bNUMBER\(\s*(\d+)\s*,\s*(\d+)\s*\))", icase);
  static const std::regex number1(R"(\bNUMBER\(\s*(\d+)\s*\))", icase);
  static const std::regex date(R"(\bDATE\b)", icase);
  text = std::regex_replace(text, varchar2, "VARCHAR($1)");
  text = std::regex_replace(text, number2, "NUMERIC($1,$2)");
  text = std::regex_replace(text, number1, "NUMERIC($1)");
  // PostgreSQL's DATE has no time of day; the parking times need one.
  if (dialect == SqlDialect::Postgresql) text = std::regex_replace(text, date, "TIMESTAMP");
  return text;
}

std::string WithTableName(std::string_view templateText, std::string_view tableName) {
  std::string text(templateText);
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, tableName);
  return text;
}

std::string ProbeStatement(std::string_view tableName) { return WithTableName("select * from %s ", tableName); }

SqlDialect DialectOf(Backend backend) {
  switch (backend) {
    case Backend::Sqlite3: return SqlDialect::Sqlite;
    case Backend::Postgresql: return SqlDialect::Postgresql;
    case Backend::Odbc: return SqlDialect::Oracle;
  }
  return SqlDialect::Oracle;
}

SqlDialect DialectOf(ReportDatabase& db) {
  if (db.GetBackend() != Backend::Odbc) return DialectOf(db.GetBackend());
  switch (OdbcDbmsOf(db.Native())) {
    case OdbcDbms::Postgresql: return SqlDialect::Postgresql;
    case OdbcDbms::Sqlite: return SqlDialect::Sqlite;
    default: return SqlDialect::Oracle;
  }
}

bool TableExists(ReportDatabase& db, std::string_view tableName) {
  try {
    if (db.GetBackend() == Backend::Postgresql) {
      // libpq would bring the whole table over to run the probe; preparing it
      // is enough for the server to say whether the table exists.
      soci::statement probe = (db.Native().prepare << ProbeStatement(tableName));
      return true;
    }
    db.OpenQuery(ProbeStatement(tableName))->Close();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace cuserver
