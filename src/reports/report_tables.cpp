#include "reports/report_tables.hpp"

#include <algorithm>
#include <array>

#include "reports/report_rows.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {

namespace {

// The columns each report shows after SIMID.
constexpr std::string_view kMileageReport[] = {"BEGINTIME", "ENDTIME", "DISTANCE"};
constexpr std::string_view kSpeedingReport[] = {"TIMELOG", "ENDTIME",  "TOTTIME",   "SPEED",
                                                "REMARK",  "DISTANCE", "LONGITUDE", "LATITUDE"};
constexpr std::string_view kParkingReport[] = {"BEGINTIME", "ENDTIME", "LONGITUDE", "LATITUDE", "STOPADD"};
constexpr std::string_view kFatigueReport[] = {"BEGINTIME", "ENDTIME", "ADDTIME"};
constexpr std::string_view kLostContactReport[] = {"BEGINTIME", "ENDTIME"};
constexpr std::string_view kLineAlarmReport[] = {"BEGINTIME", "ENDTIME", "TOTTIME", "REMARK"};

constexpr std::array kFamilies{
    ReportTableFamily{ReportFamily::VehicleDistance, "vehicledistance", true, "BEGINTIME", "SIMID", kMileageReport},
    ReportTableFamily{ReportFamily::SpeedAlarm, "speedalarm", true, "TIMELOG", "SIMID", kSpeedingReport},
    ReportTableFamily{ReportFamily::ParkingLog, "parkinglog", true, "BEGINTIME", "SIMID", kParkingReport},
    ReportTableFamily{ReportFamily::TiredDriver, "tireddriver", false, "BEGINTIME", "SIMID", kFatigueReport},
    ReportTableFamily{ReportFamily::ContactAlarm, "CONTACTALARM", false, "BEGINTIME", "SIMID", kLostContactReport},
    ReportTableFamily{ReportFamily::LineAlarm, "LINEALARMREPROT", false, "BEGINTIME", "SIMID", kLineAlarmReport},
};

// As the monthly tables have always been made on Oracle; "%s" is the name.
constexpr MonthlyReportTable kMonthlyTables[] = {
    {ReportTableKind::SpeedAlarm, "SpeedAlarm",
     "CREATE TABLE %s  (\t\t\t\t\tSIMID                NUMBER(15) NOT NULL   ,\t\t\t\t\tSPEED              VARCHAR2(20 byte),\t\t\t\t\tTIMELOG\t\t\tVARCHAR2(20 byte), \t\t\t\tENDTIME           \tVARCHAR2(20 byte),\t\t\t\t\t\tTOTTIME            NUMBER(10),\t\t\t\t\tBOOL  VARCHAR2(10 byte), \t\t\t\tDISTANCE VARCHAR2(10 byte), \t\t\t\tLONGITUDE            VARCHAR2(20 byte),\t\t\t\t\tLATITUDE            VARCHAR2(20 byte),\t\t\t\t\tSPEEDADD            VARCHAR2(30 ),\t\t\t\t\t\t\tREMARK               VARCHAR2(20)\t\t\t\t\t)"},
    {ReportTableKind::DownloadSMS, "DownloadSMS",
     "CREATE TABLE %s  (\t\t\t\t\tSIMID               VARCHAR2(15 byte),\t\t\t\t\tTIME                  VARCHAR2(20 byte), \t\t\t\t\tSMS             VARCHAR2(200 byte),\t\t\t\t\t\tREMARK               VARCHAR2(20)\t\t\t\t\t)"},
    {ReportTableKind::VehicleDistance, "VehicleDistance",
     "CREATE TABLE %s  (\t\t\t\t\tSIMID                VARCHAR2(15 byte) NOT NULL, \t\t\t\t\tBEGINTIME              VARCHAR2(20 byte),\t\t\t\tENDTIME             VARCHAR2(20 byte), \t\t\t\t\t\t\tTOTTIME            NUMBER(10),\t\t\t\t\tDISTANCE             NUMBER(10,2),\t\t\t\t\tREMARK               VARCHAR2(20)\t\t\t\t\t)"},
    {ReportTableKind::ParkingLog, "ParkingLog",
     "CREATE TABLE %s  (\t\t\t\t\tSIMID                NUMBER(11) NOT NULL   ,\t\t\t\t\tBEGINTIME                 DATE,\t\t\t\t\tENDTIME              DATE,\t\t\t\t\t\t\tTOTTIME            NUMBER(10),\t\t\t\t\tLONGITUDE             NUMBER(11,8),\t\t\t\t\tLATITUDE              NUMBER(10, 8),\t\t\t\t\tSTOPADD            VARCHAR2(100 ),\t\t\t\t\t\t\tCURRENTPOI           VARCHAR2(100 ),\t\t\t\t\t\t\tREMARK               VARCHAR2(5)\t\t\t\t\t)"},
    {ReportTableKind::AlarmSMS, "AlarmSMS",
     "CREATE TABLE %s  (\t\t\t\t\tSIMID               VARCHAR2(15 byte),\t\t\t\t\tTIME                  VARCHAR2(20 byte), \t\t\t\t\tSMS             VARCHAR2(200 byte),\t\t\t\t\t\tLONGITUDE    VARCHAR2(20 byte), \t\t\t\tLATITUDE   VARCHAR2(20 byte), \t\t\t\tREMARK               VARCHAR2(20)\t\t\t\t\t)"},
};

constexpr std::string_view kMileageColumns[] = {"SIMID", "BEGINTIME", "ENDTIME", "DISTANCE"};
constexpr std::string_view kRoadSpeedingColumns[] = {"SIMID",  "TIMELOG",  "ENDTIME",   "TOTTIME", "SPEED",
                                                     "REMARK", "DISTANCE", "LONGITUDE", "LATITUDE"};
constexpr std::string_view kAreaSpeedingColumns[] = {"SIMID",  "TIMELOG",  "ENDTIME",  "TOTTIME",  "SPEED",
                                                     "REMARK", "DISTANCE", "LATITUDE", "LONGITUDE"};
constexpr std::string_view kParkingColumns[] = {"SimId", "begintime", "endTime", "Longitude", "Latitude", "stopadd"};
constexpr std::string_view kFatigueColumns[] = {"SIMID", "begintime", "ENDTIME", "addtime"};
constexpr std::string_view kLostContactColumns[] = {"SIMID", "BEGINTIME", "ENDTIME"};
constexpr std::string_view kLineAlarmOpenColumns[] = {"SIMID", "BEGINTIME", "REMARK"};
constexpr std::string_view kLineAlarmCloseColumns[] = {"ENDTIME", "TOTTIME"};
constexpr std::string_view kLineAlarmKeyColumns[] = {"SIMID", "BEGINTIME"};

}  // namespace

std::span<const ReportTableFamily> TableFamilies() { return kFamilies; }

const ReportTableFamily& TableFamily(ReportFamily family) {
  for (const ReportTableFamily& entry : kFamilies) {
    if (entry.family == family) return entry;
  }
  return kFamilies.front();
}

std::string FamilyTableName(ReportFamily family, std::string_view time) {
  const ReportTableFamily& entry = TableFamily(family);
  return entry.monthly ? MonthlyTableName(entry.name, time) : std::string(entry.name);
}

std::span<const MonthlyReportTable> MonthlyTables() { return kMonthlyTables; }

std::optional<ReportTableKind> MonthlyTableKind(std::string_view table) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (const MonthlyReportTable& entry : kMonthlyTables) {
    if (table.size() >= entry.prefix.size() &&
        std::equal(entry.prefix.begin(), entry.prefix.end(), table.begin(),
                   [&lower](char a, char b) { return lower(a) == lower(b); })) {
      return entry.kind;
    }
  }
  return std::nullopt;
}

std::string_view OracleCreateTableTemplate(ReportTableKind kind) {
  for (const MonthlyReportTable& entry : kMonthlyTables) {
    if (entry.kind == kind) return entry.oracleCreateTable;
  }
  return {};
}

namespace report_rows {

const RowShape kMileage{RowAction::Insert, "insert into {}(SIMID,BEGINTIME,ENDTIME,DISTANCE)values('{}','{}','{}','{}')",
                        kMileageColumns, {}, true};
const RowShape kRoadSpeeding{RowAction::Insert,
                             "insert into {} (SIMID,TIMELOG,ENDTIME,TOTTIME,SPEED,REMARK,DISTANCE,LONGITUDE,LATITUDE)"
                             "values('{}','{}','{}','{}','{}','{}','{}','{}','{}')",
                             kRoadSpeedingColumns, {}, true};
const RowShape kAreaSpeeding{RowAction::Insert,
                             "insert into {} (SIMID,TIMELOG,ENDTIME,TOTTIME,SPEED,REMARK,DISTANCE,LATITUDE,LONGITUDE)"
                             "values('{}','{}','{}','{}','{}','{}','{}','{}','{}')",
                             kAreaSpeedingColumns, {}, true};
const RowShape kParking{RowAction::Insert,
                        "insert into {}(SimId, begintime,endTime,Longitude,Latitude,stopadd) "
                        "values('{}','{}','{}','{}','{}','{}')",
                        kParkingColumns, {}, true};
const RowShape kFatigue{RowAction::Insert, "insert into tireddriver(SIMID,begintime,ENDTIME,addtime)values('{}','{}','{}','{}')",
                        kFatigueColumns, {}, false};
const RowShape kLostContact{RowAction::Insert, "insert into CONTACTALARM (SIMID,BEGINTIME,ENDTIME)values('{}','{}','{}')",
                            kLostContactColumns, {}, false};
const RowShape kLineAlarmOpen{RowAction::Insert, "insert into LINEALARMREPROT (SIMID,BEGINTIME,REMARK)values('{}','{}','{}')",
                              kLineAlarmOpenColumns, {}, false};
const RowShape kLineAlarmClose{RowAction::Update,
                               "update LINEALARMREPROT set ENDTIME='{}',TOTTIME ={} where SIMID='{}' and BEGINTIME='{}' ",
                               kLineAlarmCloseColumns, kLineAlarmKeyColumns, false};

}  // namespace report_rows

std::string RowStatementText(const ReportRow& row) {
  if (row.shape == nullptr) return {};
  const std::string_view form = row.shape->statementTemplate;
  std::string text;
  text.reserve(form.size() + 64);
  std::size_t next = 0;
  bool tableDone = !row.shape->namesTable;
  for (std::size_t i = 0; i < form.size(); ++i) {
    if (form[i] != '{' || i + 1 >= form.size() || form[i + 1] != '}') {
      text += form[i];
      continue;
    }
    ++i;
    if (!tableDone) {
      text += row.table;
      tableDone = true;
      continue;
    }
    if (next >= row.values.size()) continue;
    const RowValue& value = row.values[next++];
    // A quoted place takes the value's text; NULL stands bare, unquoted.
    const bool quoted = i >= 2 && form[i - 2] == '\'';
    if (value.IsNull() && quoted) {
      text.pop_back();
      text += "NULL";
      if (i + 1 < form.size() && form[i + 1] == '\'') ++i;
      continue;
    }
    text += quoted ? SqlValue(value.Text()) : value.Text();
  }
  return text;
}

}  // namespace cuserver
