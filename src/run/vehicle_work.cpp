#include "run/vehicle_work.hpp"

#include <fmt/format.h>

#include <exception>
#include <functional>

#include "db/loaders.hpp"
#include "reports/area_speeding.hpp"
#include "reports/fatigue.hpp"
#include "reports/lost_contact.hpp"
#include "reports/mileage.hpp"
#include "reports/parking.hpp"
#include "reports/report_context.hpp"
#include "reports/road_speeding.hpp"
#include "reports/translate.hpp"
#include "run/day_key.hpp"
#include "run/failure_text.hpp"

namespace cuserver {
namespace {

// Runs one report; a failure of any kind costs its run-log line and a
// diagnostic, and the vehicle's next report runs all the same.
void Guarded(Diagnostics& diagnostics, VehicleWorker& worker, const std::string& simId, std::string_view report,
             std::string logLine, const std::function<void()>& compute) {
  try {
    compute();
  } catch (...) {
    worker.LogLines().push_back(std::move(logLine));
    diagnostics.ReportFailed(report, simId, FailureText(std::current_exception()));
  }
}

void RunReports(const DayRunShared& shared, VehicleWorker& worker, const std::string& simId, int n,
                Diagnostics& diagnostics) {
  const std::string& day = shared.dayKey;
  // The speed-limit entry the reports would find in the whole table: the
  // first of the SIMID its fixes carry.
  SpeedLimitTable ownLimit;
  if (const auto it = shared.limitBySimId.find(worker.Track()[0].simId); it != shared.limitBySimId.end()) {
    ownLimit.push_back(*it->second);
  }
  ReportContext ctx{worker.Track(),          worker.Rows(),          worker.Fixes(),
                    shared.geo,              ownLimit,               shared.reportSettingsFile,
                    diagnostics};
  static const std::vector<const AreaSpeedEntry*> kNoAreas;
  const auto areas = shared.areasBySimId.find(simId);
  for (const AreaSpeedEntry* entry : areas == shared.areasBySimId.end() ? kNoAreas : areas->second) {
    const AreaSpeedEntry& area = *entry;
    Guarded(diagnostics, worker, simId, "area speeding", fmt::format("{}计算{}道路超速报表出错\r\n", day, simId),
            [&] { ComputeAreaSpeeding(ctx, n, simId, area.areaKey, area.areaName, area.speedLimit); });
  }
  Guarded(diagnostics, worker, simId, "parking", fmt::format("{}计算{}停车报表出错\r\n", day, simId),
          [&] { ComputeParking(ctx, n); });
  Guarded(diagnostics, worker, simId, "lost contact", fmt::format("{}计算{}失去联系表出错\r\n", day, simId),
          [&] { ComputeLostContact(ctx, n); });
  Guarded(diagnostics, worker, simId, "fatigue driving", fmt::format("计算{}疲劳驾驶报表出错\r\n", simId),
          [&] { ComputeFatigue(ctx, n); });
  Guarded(diagnostics, worker, simId, "road speeding", fmt::format("{}计算{}超速报表出错\r\n", day, simId),
          [&] { ComputeRoadSpeeding(ctx, n); });
  Guarded(diagnostics, worker, simId, "daily mileage", fmt::format("{}计算{}里程报表出错\r\n", day, simId),
          [&] { ComputeMileage(ctx, n); });
  worker.LogLines().push_back(fmt::format("{}计算{}报表成功结束\r\n", day, simId));
}

}  // namespace

void DayRunShared::Index() {
  areasBySimId.clear();
  limitBySimId.clear();
  for (const AreaSpeedEntry& area : areaSpeeds) areasBySimId[area.simId].push_back(&area);
  for (const SpeedLimitEntry& limit : speedLimits) limitBySimId.emplace(limit.simId, &limit);  // the first stays
}

VehicleOutcome RunVehicle(const DayRunShared& shared, VehicleWorker& worker, const std::string& simId,
                          Diagnostics& diagnostics, std::string& skipReason) {
  worker.LogLines().clear();
  worker.Rows().Clear();
  worker.Quality() = {};
  int n = 0;
  try {
    if (shared.plainReads || !worker.Batch().Take(simId, worker.Track(), n)) {
      n = LoadDayTrack(worker.Database(), simId, shared.dayKey, worker.Track());
    }
    worker.Quality() = MeasureTrackQuality(worker.Track(), shared.dayKey, shared.geo);
    if (worker.Quality().otherDay > 0) {
      // A wrong clock or a late upload: such a fix belongs to no report of this day.
      const std::string date = TrackDateOfDay(shared.dayKey);
      worker.Track().KeepIf([&date](const TrackPoint& fix) { return IsOfDate(fix, date); });
      n = worker.Track().Count();
    }
    if (shared.plainReads) {
      worker.KnownFixes().Forget();
    } else {
      worker.KnownFixes().TrackLoaded(simId, shared.dayKey, worker.Quality().timesRiseWithNumericSpeeds);
    }
  } catch (...) {
    worker.KnownFixes().Forget();
    worker.Track().Clear();
    skipReason = Tr("day track not loaded: ") + FailureText(std::current_exception());
    return VehicleOutcome::Skipped;
  }
  if (n != 0) {
    RunReports(shared, worker, simId, n, diagnostics);
    return VehicleOutcome::Reported;
  }
  std::string begin = DayBeginTime(shared.dayKey);
  std::string end = DayEndTime(shared.dayKey);
  WriteLostContactRow(worker.Rows(), simId, begin, end);
  WriteMileageRow(worker.Rows(), simId, begin, end, 0.0);
  return VehicleOutcome::NoFixes;
}

}  // namespace cuserver
