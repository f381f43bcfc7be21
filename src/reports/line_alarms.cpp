#include "reports/line_alarms.hpp"

#include <utility>

#include <fmt/format.h>

#include "reports/report_rows.hpp"
#include "reports/report_tables.hpp"
#include "reports/text_number.hpp"

namespace cuserver {
namespace {

const std::string_view kTable = TableFamily(ReportFamily::LineAlarm).name;

// Seconds since midnight from the hh, mm and ss of a track time, each taken by
// the leading-digit conversion (a short time gives 0 for what is missing).
int SecondsOfDay(std::string_view time) {
  const int hour = LeadingInt(TextPiece(time, 11, 2));
  const int minute = LeadingInt(TextPiece(time, 14, 2));
  const int second = LeadingInt(TextPiece(time, 17, 2));
  return (hour * 60 + minute) * 60 + second;
}

}  // namespace

int OpenLineAlarm(RowSink& sink, const std::string& simId, const std::string& beginTime, int code) {
  const std::string remark = fmt::format("{:03d}", code);
  ReportRow row = ReportRow::Of(report_rows::kLineAlarmOpen, std::string(kTable),
                                      {RowValue::Text(simId), RowValue::Text(beginTime), RowValue::Text(remark)});
  return sink.Write(std::move(row), simId) ? 0 : -1;
}

int CloseLineAlarm(RowSink& sink, const std::string& simId, const std::string& beginTime,
                   const std::string& endTime, int seconds) {
  ReportRow row = ReportRow::Of(
      report_rows::kLineAlarmClose, std::string(kTable),
      {RowValue::Text(endTime), RowValue::Integer(seconds), RowValue::Text(simId), RowValue::Text(beginTime)});
  return sink.Write(std::move(row), simId) ? 0 : -1;
}

LineAlarmScan ScanLineAlarms(const TrackBuffer& track, int n, GeoServices& geo, RowSink& rows) {
  LineAlarmScan scan;
  std::string beginTime;
  int beginSeconds = 0;
  bool open = false;
  const int end = LoadedEnd(track, n);
  for (int k = 0; k < end; ++k) {
    const TrackPoint& fix = track[static_cast<std::size_t>(k)];
    const int code = geo.IsOnHighway(fix.Latitude(), fix.Longitude());
    if (code != 0 && !open) {
      open = true;
      beginSeconds = SecondsOfDay(fix.time);
      if (OpenLineAlarm(rows, fix.simId, fix.time, code) == 0) {
        ++scan.opened;
      } else {
        ++scan.refused;
      }
      beginTime = fix.time;
    } else if (code == 0 && open) {
      open = false;
      const int seconds = SecondsOfDay(fix.time) - beginSeconds;
      if (CloseLineAlarm(rows, fix.simId, beginTime, fix.time, seconds) == 0) {
        ++scan.closed;
      } else {
        ++scan.refused;
      }
    }
  }
  scan.leftOpen = open;
  return scan;
}

}  // namespace cuserver
