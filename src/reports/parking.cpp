#include "reports/parking.hpp"

#include <utility>

#include <algorithm>

#include <fmt/format.h>

#include "reports/report_rows.hpp"
#include "reports/report_tables.hpp"
#include "reports/text_number.hpp"
#include "reports/time_arith.hpp"

namespace cuserver {

namespace {
constexpr int kStoppedBelowKmh = 5;
constexpr int kUnvisitedTail = 10;
constexpr int kMinStopMinutes = 5;
}  // namespace

int ComputeParking(const ReportContext& ctx, int n) {
  const TrackBuffer& track = ctx.track;
  const int visited = std::min(n, track.Count()) - kUnvisitedTail;
  bool stopped = false;
  std::size_t stopBegin = 0;
  for (std::size_t i = 0; static_cast<int>(i) < visited; ++i) {
    const TrackPoint& fix = track[i];
    const bool standing = fix.SpeedInteger() < kStoppedBelowKmh;
    if (!stopped) {
      if (standing) {
        stopped = true;
        stopBegin = i;
      }
      continue;
    }
    if (standing) continue;
    stopped = false;
    const std::string& begin = track[stopBegin].time;
    const auto span = ComputeCalendarSpan(begin, fix.time);
    if (span && (span->Hours() > 0 || span->Minutes() >= kMinStopMinutes)) {
      WriteParkingRow(ctx.rows, fix.simId, begin, fix.time, fix.longitude.Text(), fix.latitude.Text(),
                      FormatStopDuration(*span), &ctx.diagnostics);
    }
  }
  return 0;
}

int WriteParkingRow(RowSink& sink, const std::string& simId, const std::string& begin,
                    const std::string& end, const std::string& longitude, const std::string& latitude,
                    const std::string& durationText, Diagnostics* diagnostics) {
  const std::string table = FamilyTableName(ReportFamily::ParkingLog, begin);
  if (!AcceptTableName(table, simId, begin, diagnostics)) return 0;
  ReportRow row = ReportRow::Of(report_rows::kParking, table,
                                      {RowValue::Text(simId), RowValue::Text(begin), RowValue::Text(end),
                                       RowValue::Text(longitude), RowValue::Text(latitude),
                                       RowValue::Text(durationText)});
  return sink.Write(std::move(row), simId) ? 1 : 0;
}

}  // namespace cuserver
