#include "run/day_run.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <exception>

#include "db/dialect.hpp"
#include "db/ledger.hpp"
#include "db/loaders.hpp"
#include "db/report_tables.hpp"
#include "db/row_images.hpp"
#include "run/day_key.hpp"
#include "run/failure_text.hpp"
#include "run/run_session.hpp"
#include "run/vehicle_day_writer.hpp"
#include "run/vehicle_listings.hpp"
#include "run/vehicle_pool.hpp"

namespace cuserver {
namespace {

// "a, b, c and 12 more"
std::string SomeSimIds(const std::vector<std::string>& simIds, std::size_t shown = 20) {
  std::string text;
  for (std::size_t i = 0; i < simIds.size() && i < shown; ++i) {
    if (i > 0) text += ", ";
    text += simIds[i];
  }
  if (simIds.size() > shown) text += fmt::format(" and {} more", simIds.size() - shown);
  return text;
}

// Records how the day ended. The run's session may be gone with the
// database; a fresh one is tried once, else the day stays "running" in the
// ledger, which the schedule takes for an attempt that did not end.
void EndDay(ReportDatabase& db, const DayRunSetup& setup, const DayClaim& claim, const DayRunCounts& counts,
            const DayCounts& ledgerCounts) {
  const auto record = [&](ReportDatabase& session) {
    Ledger(session).EndDay(claim, counts.outcome, ledgerCounts, LedgerNow(), counts.detail);
  };
  try {
    record(db);
    return;
  } catch (const std::exception&) {
  }
  try {
    ReportDatabase fresh;
    fresh.OpenReportSession(setup.connection);
    record(fresh);
  } catch (const std::exception& error) {
    setup.diagnostics.Info(
        fmt::format("day {}: its outcome ({}) could not be recorded in the day ledger: {}", claim.day,
                    DayOutcomeText(counts.outcome), FailureText(error)));
  }
}

}  // namespace

std::string EndCaption(const std::string& dayKey) {
  return fmt::format("{}数据分析完毕，请查验！", dayKey);
}

DayRunCounts DayRun(const std::string& dayKey, const DayRunSetup& setup) {
  DayRunCounts counts;
  ReportDatabase db;
  OpenRunSession(db, setup.connection, setup.caption);

  const std::string monthKey = MonthKeyOf(dayKey);
  // A re-run finds a vehicle's earlier rows through these, and a reader a
  // day's rows; made while the tables are young, a month's re-runs never
  // wait for them. The line alarm run indexes its own table.
  for (const ReportTableFamily& family : TableFamilies()) {
    if (family.family == ReportFamily::LineAlarm) continue;
    const std::string table = std::string(family.name) + (family.monthly ? monthKey : "");
    const auto kind = MonthlyTableKind(table);
    if (family.monthly && kind) EnsureReportTable(db, *kind, table);
    const std::string timeColumn(family.timeColumn);
    EnsureVehicleIndex(db, RowImage{table, {std::string(family.simIdColumn), timeColumn}, {}});
    EnsureDayIndex(db, table, timeColumn);
  }

  const int refusedBefore = setup.diagnostics.RefusedRows();
  const int failedBefore = setup.diagnostics.FailedReports();
  const int failuresBefore = setup.diagnostics.Failures();
  DayCounts ledgerCounts;
  DayClaim claim;
  const auto fail = [&](const std::string& what) {
    counts.outcome = DayOutcome::Failed;
    counts.detail = what;
    setup.diagnostics.Failure(fmt::format("day {}: {}", dayKey, what));
    setup.diagnostics.FlushMessages();
    EndDay(db, setup, claim, counts, ledgerCounts);
    return counts;
  };

  // Without its ledger a re-run could not replace what this run writes: no
  // vehicle is computed then. While another process computes the day, this
  // one does not: its rows would come twice.
  const ClaimTiming timing = ClaimTimingFor(setup.connection);
  try {
    Ledger ledger(db);
    ledger.EnsureTables();
    claim = ledger.BeginDay(kDayRunCommand, dayKey, ShardText(setup.shard), HostName(), static_cast<long>(getpid()),
                            LedgerNow(), timing.staleAfter);
  } catch (const DayClaimedError&) {
    throw;
  } catch (const std::exception& error) {
    counts.outcome = DayOutcome::Failed;
    counts.detail = "the day ledger cannot be written, no vehicle computed: " + FailureText(error);
    setup.diagnostics.Failure(fmt::format("{}：{}", dayKey, counts.detail));
    return counts;
  }
  const ClaimHeartbeat heartbeat(setup.connection, claim, timing.heartbeatEvery);

  VehicleList vehicles;
  try {
    vehicles = LoadVehicleList(db);
  } catch (const std::exception& error) {
    return fail("vehicle list not loaded, no vehicle computed: " + FailureText(error));
  }
  counts.catalogueLoaded = true;
  // A vehicle judged without its own limits gets wrong rows, and those of
  // every vehicle are lost at once: the day waits for its retry instead.
  SpeedLimitTable ownLimits;
  if (setup.loadSpeedLimits) {
    try {
      ownLimits = LoadSpeedLimits(db);
    } catch (const std::exception& error) {
      return fail("speed limits not loaded, no vehicle computed: " + FailureText(error));
    }
  }
  AreaSpeedList areaSpeeds;
  try {
    areaSpeeds = LoadAreaSpeedList(db, setup.diagnostics);
  } catch (const std::exception& error) {
    return fail("speed-area entries not loaded, no vehicle computed: " + FailureText(error));
  }
  const std::string gpsTable = "GPSDATA" + dayKey;
  const bool gpsTableExists = TableExists(db, gpsTable);
  PreviousRows previous;
  try {
    previous = PreviousRows::Load(db, kDayRunCommand, dayKey, setup.diagnostics);
  } catch (const std::exception& error) {
    return fail("the day ledger's entries cannot be read, no vehicle computed: " + FailureText(error));
  }

  DayRunShared shared{dayKey,
                      areaSpeeds,
                      setup.geo,
                      setup.loadSpeedLimits ? ownLimits : setup.speedLimits,
                      setup.reportSettingsFile,
                      setup.runLog,
                      setup.diagnostics,
                      setup.plainReads,
                      {},
                      {}};
  shared.Index();
  const std::vector<std::size_t> listings = FirstListings(vehicles, counts.catalogue);
  TellCatalogueNotes(counts.catalogue, dayKey, setup.diagnostics);
  counts.vehicles = static_cast<int>(listings.size());
  std::vector<PlannedVehicle> planned;
  for (const std::size_t i : listings) {
    const std::string& simId = vehicles[i].simId;
    if (InShard(simId, setup.shard)) planned.push_back({static_cast<int>(i), simId});
  }
  counts.outsideShard = counts.vehicles - static_cast<int>(planned.size());
  if (setup.shard.count > 1) {
    setup.diagnostics.Info(fmt::format("day {}: shard {} computes {} of {} vehicles", dayKey, ShardText(setup.shard),
                                       planned.size(), counts.vehicles));
  }
  const VehiclePoolCounts worked = WorkVehicles(
      planned, {shared, db, setup.connection, setup.jobs, setup.caption, previous, setup.stop});
  counts.reported = worked.reported;
  counts.withoutFixes = worked.withoutFixes;
  counts.skipped = worked.skipped;
  counts.workers = worked.workers;
  counts.lost = static_cast<int>(worked.lost.size());
  counts.quality = worked.quality;
  counts.stopped = worked.notStarted > 0;

  ledgerCounts.vehicles = static_cast<int>(planned.size());
  ledgerCounts.computed = worked.reported + worked.withoutFixes;
  ledgerCounts.skipped = worked.skipped + counts.lost + worked.notStarted;
  ledgerCounts.rowsWritten = worked.rowsWritten;
  ledgerCounts.rowsRefused = setup.diagnostics.RefusedRows() - refusedBefore;
  ledgerCounts.reportsFailed = setup.diagnostics.FailedReports() - failedBefore;
  counts.recorded = ledgerCounts;
  counts.rowsByTable = worked.rowsByTable;
  // Whatever failure the run told makes it end with status 1: the ledger
  // does not call such a day complete.
  const int otherFailures = setup.diagnostics.Failures() - failuresBefore;

  if (!worked.lost.empty()) {
    counts.outcome = DayOutcome::Incomplete;
    counts.detail = fmt::format("数据库连接中断：{1} 辆车中 {0} 辆未计算：{2}", worked.lost.size(),
                                planned.size(), SomeSimIds(worked.lost));
    setup.diagnostics.Failure(fmt::format("{}：{}", dayKey, counts.detail));
  } else if (counts.stopped) {
    counts.outcome = DayOutcome::Incomplete;
    counts.detail = fmt::format("已停止：{1} 辆车中 {0} 辆未开始计算", worked.notStarted, planned.size());
    setup.diagnostics.Failure(fmt::format("{}：{}", dayKey, counts.detail));
  } else if (!gpsTableExists && !planned.empty()) {
    counts.outcome = DayOutcome::Failed;
    counts.detail = fmt::format("表 {} 不存在：没有车辆有轨迹", gpsTable);
    setup.diagnostics.Failure(fmt::format("{}：{}", dayKey, counts.detail));
  } else if (ledgerCounts.skipped + ledgerCounts.rowsRefused + ledgerCounts.reportsFailed + otherFailures > 0) {
    counts.outcome = DayOutcome::Incomplete;
    counts.detail = fmt::format("{} 行被拒绝，{} 个报表计算失败，跳过 {} 辆车", ledgerCounts.rowsRefused,
                                ledgerCounts.reportsFailed, ledgerCounts.skipped);
    if (otherFailures > 0) counts.detail += fmt::format("，另有 {} 个其他故障", otherFailures);
  } else {
    counts.outcome = DayOutcome::Complete;
  }
  if (worked.lost.empty() && !counts.stopped) {
    const int computed = static_cast<int>(planned.size());
    setup.caption.Progress(computed, computed);
    setup.caption.Show(EndCaption(dayKey));
  }
  setup.diagnostics.FlushMessages();
  EndDay(db, setup, claim, counts, ledgerCounts);
  return counts;
}

}  // namespace cuserver
