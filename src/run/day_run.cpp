#include "run/day_run.hpp"

#include <fmt/format.h>

#include <exception>

#include "db/loaders.hpp"
#include "db/report_tables.hpp"
#include "run/day_key.hpp"
#include "run/failure_text.hpp"
#include "run/run_session.hpp"
#include "run/vehicle_pool.hpp"

namespace cuserver {

std::string EndCaption(const std::string& dayKey) {
  return fmt::format("{}数据分析完毕，请查验！", dayKey);
}

DayRunCounts DayRun(const std::string& dayKey, const DayRunSetup& setup) {
  DayRunCounts counts;
  ReportDatabase db;
  OpenRunSession(db, setup.connection, setup.caption);

  std::string monthKey = MonthKeyOf(dayKey);
  EnsureReportTable(db, ReportTableKind::SpeedAlarm, fmt::format("speedalarm{}", monthKey));
  EnsureReportTable(db, ReportTableKind::VehicleDistance, fmt::format("vehicledistance{}", monthKey));
  EnsureReportTable(db, ReportTableKind::ParkingLog, fmt::format("parkinglog{}", monthKey));

  VehicleList vehicles;
  try {
    vehicles = LoadVehicleList(db);
  } catch (const std::exception& error) {
    setup.diagnostics.Failure(
        fmt::format("day {}: vehicle list not loaded, no vehicle computed: {}", dayKey, FailureText(error)));
    setup.diagnostics.FlushMessages();
    return counts;
  }
  counts.catalogueLoaded = true;
  AreaSpeedList areaSpeeds;
  try {
    areaSpeeds = LoadAreaSpeedList(db, setup.diagnostics);
  } catch (const std::exception& error) {
    setup.diagnostics.Failure(
        fmt::format("day {}: speed-area entries not loaded, no area-speeding report: {}", dayKey,
                    FailureText(error)));
  }

  DayRunShared shared{dayKey,          areaSpeeds,         setup.geo,   setup.speedLimits,
                      setup.reportSettingsFile, setup.runLog, setup.diagnostics};
  counts.vehicles = static_cast<int>(vehicles.size());
  std::vector<PlannedVehicle> planned;
  for (int i = 0; i < counts.vehicles; ++i) {
    const std::string& simId = vehicles[static_cast<std::size_t>(i)].simId;
    if (InShard(simId, setup.shard)) planned.push_back({i, simId});
  }
  counts.outsideShard = counts.vehicles - static_cast<int>(planned.size());
  if (setup.shard.count > 1) {
    setup.diagnostics.Info(fmt::format("day {}: shard {} computes {} of {} vehicles", dayKey, ShardText(setup.shard),
                                       planned.size(), counts.vehicles));
  }
  const VehiclePoolCounts worked =
      WorkVehicles(planned, {shared, db, setup.connection, setup.jobs, setup.caption});
  counts.reported = worked.reported;
  counts.withoutFixes = worked.withoutFixes;
  counts.skipped = worked.skipped;
  counts.workers = worked.workers;
  const int computed = static_cast<int>(planned.size());
  setup.caption.Progress(computed, computed);
  setup.caption.Show(EndCaption(dayKey));
  setup.diagnostics.FlushMessages();
  return counts;
}

}  // namespace cuserver
