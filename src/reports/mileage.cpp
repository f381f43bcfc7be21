#include "reports/mileage.hpp"

#include <utility>

#include <fmt/format.h>

#include "reports/moving_fix.hpp"
#include "reports/report_rows.hpp"
#include "reports/report_tables.hpp"
#include "reports/text_number.hpp"

namespace cuserver {

namespace {
constexpr int kFewMovingFixes = 10;
}  // namespace

int ComputeMileage(const ReportContext& ctx, int n) {
  const TrackBuffer& track = ctx.track;
  const auto end = static_cast<std::size_t>(LoadedEnd(track, n));
  if (end == 0) return 0;

  // The moving fixes are not copied: the first, the previous and the count
  // suffice. The distance runs from one usable position to the next.
  std::size_t first = 0;
  std::size_t previous = 0;
  const TrackPoint* placed = nullptr;  // the last moving fix with a usable position
  int moving = 0;
  double metres = 0.0;
  for (std::size_t i = 0; i < end; ++i) {
    const TrackPoint& fix = track[i];
    if (!IsMovingSpeed(fix.Speed())) continue;
    if (moving == 0) first = i;
    if (fix.HasUsablePosition()) {
      if (placed != nullptr) {
        metres += ctx.geo.DistanceMetres(placed->Longitude(), placed->Latitude(), fix.Longitude(), fix.Latitude());
      }
      placed = &fix;
    }
    previous = i;
    ++moving;
  }

  if (moving > kFewMovingFixes) {
    WriteMileageRow(ctx.rows, track[first].simId, track[first].time, track[previous].time, metres,
                    &ctx.diagnostics);
  } else {
    const std::size_t last = moving >= 2 ? static_cast<std::size_t>(moving - 1) : 0;
    WriteMileageRow(ctx.rows, track[0].simId, track[0].time, track[last].time, metres,
                    &ctx.diagnostics);
  }
  return 0;
}

std::string MileageDistanceText(double distanceMetres) {
  if (distanceMetres == 0.0 || distanceMetres < 1000.0) return "0.0";
  return fmt::format("{:.2f}", distanceMetres * 0.001);
}

int WriteMileageRow(RowSink& sink, const std::string& simId, const std::string& begin,
                    const std::string& end, double distanceMetres, Diagnostics* diagnostics) {
  const std::string distance = MileageDistanceText(distanceMetres);
  const std::string table = FamilyTableName(ReportFamily::VehicleDistance, begin);
  if (!AcceptTableName(table, simId, begin, diagnostics)) return -1;
  ReportRow row = ReportRow::Of(report_rows::kMileage, table,
                                      {RowValue::Text(simId), RowValue::Text(begin), RowValue::Text(end),
                                       RowValue::Text(distance)});
  return sink.Write(std::move(row), simId) ? 0 : -1;
}

}  // namespace cuserver
