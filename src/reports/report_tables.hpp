#pragma once

// The report tables, in one place: each family's name, whether it is one
// table a month, the column its rows are found by day, the columns a report
// shows, the monthly tables the service makes and how they are created on
// Oracle, and the rows the report computations write into them. The
// writers, the schema, the report reader, the service and the track all read
// it from here.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "reports/report_row.hpp"

namespace cuserver {

enum class ReportTableKind { AlarmSMS, DownloadSMS, SpeedAlarm, VehicleDistance, ParkingLog };

enum class ReportFamily { VehicleDistance, SpeedAlarm, ParkingLog, TiredDriver, ContactAlarm, LineAlarm };

struct ReportTableFamily {
  ReportFamily family;
  std::string_view name;        // a monthly table's prefix ("speedalarm"), or the table's name
  bool monthly;                 // name + yyyymm
  std::string_view timeColumn;  // the column a day's rows are selected and ordered by
  std::string_view simIdColumn;
  std::span<const std::string_view> columns;  // after SIMID, in the order a report shows them
};

const ReportTableFamily& TableFamily(ReportFamily family);
std::span<const ReportTableFamily> TableFamilies();

// The family's table holding rows of the time "yyyy-mm-dd ...": its name, with
// the year and month of the time for a monthly family.
std::string FamilyTableName(ReportFamily family, std::string_view time);

// A table a month that the service makes sure of every evening, and at start-up.
struct MonthlyReportTable {
  ReportTableKind kind;
  std::string_view prefix;             // "SpeedAlarm": the table of a month is prefix + yyyymm
  std::string_view oracleCreateTable;  // as it has always been sent to Oracle, "%s" standing for the name
};

// In the order the evening check makes them.
std::span<const MonthlyReportTable> MonthlyTables();

// The kind of the monthly table named prefix + yyyymm, the prefix in any case
// ("parkinglog201403" is a ParkingLog); nullopt for any other name.
std::optional<ReportTableKind> MonthlyTableKind(std::string_view table);

// The CREATE TABLE text of a monthly kind as it has always been sent to
// Oracle, "%s" standing for the table name.
std::string_view OracleCreateTableTemplate(ReportTableKind kind);

// The rows the report computations write.
namespace report_rows {
extern const RowShape kMileage;        // vehicledistance: SIMID, BEGINTIME, ENDTIME, DISTANCE
extern const RowShape kRoadSpeeding;   // speedalarm, position as longitude, latitude
extern const RowShape kAreaSpeeding;   // speedalarm, position as latitude, longitude
extern const RowShape kParking;        // parkinglog
extern const RowShape kFatigue;        // tireddriver
extern const RowShape kLostContact;    // CONTACTALARM
extern const RowShape kLineAlarmOpen;  // LINEALARMREPROT: SIMID, BEGINTIME, REMARK
extern const RowShape kLineAlarmClose; // LINEALARMREPROT: ENDTIME, TOTTIME by SIMID, BEGINTIME
}  // namespace report_rows

}  // namespace cuserver
