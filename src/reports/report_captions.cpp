#include "reports/report_captions.hpp"

namespace cuserver {
namespace {

struct NamedLook {
  std::string_view column;
  ReportColumnLook look;
};

constexpr NamedLook kLooks[] = {
    {"SIMID", {"SIM卡号", ColumnValue::Text, {}}},
    {"LICENSEPLATE", {"车牌", ColumnValue::Text, {}}},
    {"MOTORCADENAME", {"车队", ColumnValue::Text, {}}},
    {"BEGINTIME", {"开始时间", ColumnValue::Time, {}}},
    {"TIMELOG", {"开始时间", ColumnValue::Time, {}}},
    {"ENDTIME", {"结束时间", ColumnValue::Time, {}}},
    {"DISTANCE", {"里程（公里）", ColumnValue::Number, {}}},
    {"TOTTIME", {"时长（秒）", ColumnValue::Seconds, "时长（时:分）"}},
    {"SPEED", {"最高速度（公里/时）", ColumnValue::Number, {}}},
    {"REMARK", {"备注", ColumnValue::Text, {}}},
    {"LONGITUDE", {"经度", ColumnValue::Coordinate, {}}},
    {"LATITUDE", {"纬度", ColumnValue::Coordinate, {}}},
    // The stop's length as the parking report has always written it: "00天01小时05分".
    {"STOPADD", {"停车时长", ColumnValue::Text, {}}},
    {"ADDTIME", {"连续驾驶（秒）", ColumnValue::Seconds, "连续驾驶（时:分）"}},
    {"fixes", {"定位点", ColumnValue::Number, {}}},
    {"withoutPosition", {"无位置", ColumnValue::Number, {}}},
    {"otherDay", {"非当日", ColumnValue::Number, {}}},
    {"sameTime", {"同一时刻", ColumnValue::Number, {}}},
    {"backwards", {"时间倒退", ColumnValue::Number, {}}},
    {"jumps", {"跳点", ColumnValue::Number, {}}},
    // A period's summary, as the page's 汇总 tab (web/summary.js) heads it.
    {"day", {"日期", ColumnValue::Text, {}}},
    {"vehicles", {"车辆", ColumnValue::Number, {}}},
    {"days", {"天数", ColumnValue::Number, {}}},
    {"kilometres", {"里程（公里）", ColumnValue::Number, {}}},
    {"speeding", {"超速（次）", ColumnValue::Number, {}}},
    {"speedingSeconds", {"超速时长（秒）", ColumnValue::Seconds, "超速时长（时:分）"}},
    {"parking", {"停车（次）", ColumnValue::Number, {}}},
    {"parkingSeconds", {"停车时长（秒）", ColumnValue::Seconds, "停车时长（时:分）"}},
    {"fatigue", {"疲劳驾驶（次）", ColumnValue::Number, {}}},
    {"lostContact", {"失去联系（次）", ColumnValue::Number, {}}},
};

}  // namespace

std::string_view FamilyTitle(ReportFamily family) {
  switch (family) {
    case ReportFamily::VehicleDistance: return "里程";
    case ReportFamily::SpeedAlarm: return "超速";
    case ReportFamily::ParkingLog: return "停车";
    case ReportFamily::TiredDriver: return "疲劳驾驶";
    case ReportFamily::ContactAlarm: return "失去联系";
    case ReportFamily::LineAlarm: return "路段报警";
  }
  return "报表";
}

ReportColumnLook ColumnLook(std::string_view column, std::optional<ReportFamily> family) {
  // The speeding report's remark is the road the vehicle sped on.
  if (column == "REMARK" && family == ReportFamily::SpeedAlarm) return {"道路", ColumnValue::Text, {}};
  for (const NamedLook& named : kLooks) {
    if (named.column == column) return named.look;
  }
  return {column, ColumnValue::Text, {}};
}

}  // namespace cuserver
