#include "reports/lost_contact.hpp"

#include <utility>

#include <fmt/format.h>

#include "reports/report_rows.hpp"
#include "reports/report_tables.hpp"
#include "reports/time_arith.hpp"

namespace cuserver {

namespace {
constexpr int kSilenceSeconds = 3600;
}

int ComputeLostContact(const ReportContext& ctx, int /*n*/) {
  const TrackBuffer& track = ctx.track;
  const auto end = static_cast<std::size_t>(LoadedEnd(track));
  int next = end > 0 ? MonthClockSeconds(track[0].time) : -1;
  for (std::size_t k = 0; k + 1 < end; ++k) {
    const int from = next;
    next = MonthClockSeconds(track[k + 1].time);
    const int seconds =
        from >= 0 && next >= 0 ? next - from : SecondsBetween(track[k].time, track[k + 1].time);
    if (seconds > kSilenceSeconds) {
      WriteLostContactRow(ctx.rows, track[k].simId, track[k].time, track[k + 1].time);
    }
  }
  return 0;
}

int WriteLostContactRow(RowSink& sink, const std::string& simId, const std::string& begin,
                        const std::string& end) {
  ReportRow row = ReportRow::Of(report_rows::kLostContact, FamilyTableName(ReportFamily::ContactAlarm, begin),
                                      {RowValue::Text(simId), RowValue::Text(begin), RowValue::Text(end)});
  return sink.Write(std::move(row), simId) ? 0 : -1;
}

}  // namespace cuserver
