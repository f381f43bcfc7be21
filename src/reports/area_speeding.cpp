#include "reports/area_speeding.hpp"

#include <utility>

#include <algorithm>

#include <fmt/format.h>

#include "reports/report_rows.hpp"
#include "reports/report_tables.hpp"
#include "reports/text_number.hpp"
#include "reports/time_arith.hpp"
#include "reports/track_distance.hpp"

namespace cuserver {

namespace {
constexpr int kMinStretchSeconds = 31;
}

int ComputeAreaSpeeding(const ReportContext& ctx, int n, const std::string& simId,
                        const std::string& /*areaKey*/, const std::string& areaName,
                        const std::string& speedLimit) {
  const TrackBuffer& track = ctx.track;
  const auto count = static_cast<std::size_t>(std::clamp(n, 0, track.Count()));
  const double limit = LeadingDouble(speedLimit);

  // Scan state; begin and top are slot indices. The top position outlives a
  // stretch, as only the top speed is reset.
  bool open = false;
  std::size_t begin = 0;
  double topSpeed = 0.0;
  std::size_t top = 0;
  bool haveTop = false;
  static const std::string kEmpty;
  const auto finish = [&](const TrackPoint& closing) {
    WriteAreaSpeedingRow(ctx, simId, track[begin].time, closing.time, areaName, topSpeed,
                         haveTop ? track[top].latitude.Text() : kEmpty, haveTop ? track[top].longitude.Text() : kEmpty);
    open = false;
    topSpeed = 0.0;
  };

  for (std::size_t i = 0; i < count; ++i) {
    const TrackPoint& fix = track[i];
    const bool inArea = ctx.geo.AreaNameAt(fix.Latitude(), fix.Longitude()) == areaName;
    if (!inArea) {
      if (open) finish(fix);
      continue;
    }
    const double speed = fix.Speed();
    if (speed > limit && !open) {
      begin = i;
      if (speed > topSpeed) {
        topSpeed = speed;
        top = i;
        haveTop = true;
        open = true;
      }
    }
    if (speed > limit && open && speed > topSpeed) {
      topSpeed = speed;
      top = i;
      haveTop = true;
    }
    if (speed < limit && open) finish(fix);
  }
  return 0;
}

int WriteAreaSpeedingRow(const ReportContext& ctx, const std::string& simId, const std::string& begin,
                         const std::string& end, const std::string& areaName, double topSpeed,
                         const std::string& topLatitude, const std::string& topLongitude) {
  if (end.empty()) return -1;
  const int seconds = SecondsBetween(begin, end);
  if (seconds < kMinStretchSeconds) return -1;
  const std::string table = FamilyTableName(ReportFamily::SpeedAlarm, begin);
  if (!AcceptTableName(table, simId, begin, &ctx.diagnostics)) return -1;
  const std::string distance =
      fmt::format("{:.2f}", TrackDistance(ctx.fixes, ctx.geo, simId, begin, end) * 0.001);
  ReportRow row = ReportRow::Of(
      report_rows::kAreaSpeeding, table,
      {RowValue::Text(simId), RowValue::Text(begin), RowValue::Text(end), RowValue::Text(std::to_string(seconds)),
       RowValue::Text(fmt::format("{:.2f}", topSpeed)), RowValue::Text(areaName), RowValue::Text(distance),
       RowValue::Text(topLatitude), RowValue::Text(topLongitude)});
  return ctx.rows.Write(std::move(row), simId) ? 0 : -1;
}

}  // namespace cuserver
