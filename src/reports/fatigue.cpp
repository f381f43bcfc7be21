#include "reports/fatigue.hpp"

#include <utility>

#include <fmt/format.h>

#include "reports/report_rows.hpp"
#include "reports/report_tables.hpp"
#include "reports/text_number.hpp"
#include "reports/time_arith.hpp"

namespace cuserver {

namespace {

constexpr double kMovingAboveKmh = 5.0;
constexpr int kRestSeconds = 300;
constexpr int kFatigueSeconds = 14400;
constexpr int kUnset = -1;

}  // namespace

int ComputeFatigue(const ReportContext& ctx, int /*n*/) {
  const TrackBuffer& track = ctx.track;
  const int end = LoadedEnd(track);
  // Times are kept as slot indices; an unset one, like a fix's empty time, reads as empty text.
  static const std::string kEmpty;
  const auto timeAt = [&](int slot) -> const std::string& {
    return slot == kUnset ? kEmpty : track[static_cast<std::size_t>(slot)].time;
  };
  bool driving = false;
  int stretchBegin = kUnset;
  int stretchEnd = kUnset;
  int restBegin = kUnset;
  for (int j = 0; j < end; ++j) {
    const TrackPoint& fix = track[static_cast<std::size_t>(j)];
    if (fix.Speed() <= kMovingAboveKmh) {
      if (driving) {
        restBegin = j;
        driving = false;
      }
      continue;
    }
    if (driving) {
      stretchEnd = j;
      continue;
    }
    if (timeAt(restBegin).empty()) {
      stretchBegin = stretchEnd = j;
    } else if (SecondsBetween(timeAt(restBegin), fix.time) <= kRestSeconds) {
      stretchEnd = j;
    } else {
      if (SecondsBetween(timeAt(stretchBegin), timeAt(stretchEnd)) > kFatigueSeconds) {
        WriteFatigueRow(ctx.rows, fix.simId, timeAt(stretchBegin), timeAt(stretchEnd));
      }
      stretchBegin = j;
      stretchEnd = kUnset;
    }
    restBegin = kUnset;
    driving = true;
  }
  return 0;
}

int WriteFatigueRow(RowSink& sink, const std::string& simId, const std::string& begin,
                    const std::string& end) {
  if (begin.empty() || end.empty()) return -1;
  const ReportRow row =
      ReportRow::Of(report_rows::kFatigue, FamilyTableName(ReportFamily::TiredDriver, begin),
                    {RowValue::Text(simId), RowValue::Text(begin), RowValue::Text(end),
                     RowValue::Text(std::to_string(SecondsBetween(begin, end)))});
  return sink.Write(std::move(row), simId) ? 0 : -1;
}

}  // namespace cuserver
