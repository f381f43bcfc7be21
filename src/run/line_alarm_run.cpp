#include "run/line_alarm_run.hpp"

#include <fmt/format.h>

#include <exception>
#include <memory>
#include <optional>

#include <unistd.h>

#include "db/batched_writer.hpp"
#include "db/dialect.hpp"
#include "db/ledger.hpp"
#include "db/loaders.hpp"
#include "db/reconnect.hpp"
#include "db/row_images.hpp"
#include "db/vehicle_day_store.hpp"
#include "reports/catalog.hpp"
#include "reports/line_alarms.hpp"
#include "reports/track.hpp"
#include "run/failure_text.hpp"
#include "run/run_session.hpp"
#include "run/vehicle_day_writer.hpp"

namespace cuserver {
namespace {

constexpr std::string_view kAlarmTable = "LINEALARMREPROT";

void RunEnded(const LineAlarmRunSetup& setup, const std::string& dayKey, const std::string& what) {
  setup.diagnostics.Failure(fmt::format("day {}: road-segment alarm run ended: {}", dayKey, what));
}

void EndLineAlarmDay(ReportDatabase& db, const LineAlarmRunSetup& setup, const DayClaim& claim,
                     const LineAlarmRunCounts& counts, DayOutcome outcome) {
  DayCounts ledgerCounts;
  ledgerCounts.vehicles = counts.vehicles;
  ledgerCounts.computed = counts.scanned;
  ledgerCounts.skipped = counts.vehicles - counts.scanned;
  ledgerCounts.rowsWritten = counts.opened;
  ledgerCounts.rowsRefused = counts.refused;
  const std::string detail =
      outcome == DayOutcome::Complete
          ? std::string()
          : fmt::format("{} of {} vehicles scanned, {} statements refused", counts.scanned, counts.vehicles,
                        counts.refused);
  try {
    Ledger(db).EndDay(claim, outcome, ledgerCounts, LedgerNow(), detail);
  } catch (const std::exception& error) {
    setup.diagnostics.Info(fmt::format("day {}: the road-segment alarm run's outcome could not be recorded: {}",
                                       claim.day, FailureText(error)));
  }
}

}  // namespace

LineAlarmRunCounts ComputeLineAlarms(const std::string& dayKey, const LineAlarmRunSetup& setup) {
  LineAlarmRunCounts counts;
  ReportDatabase db;
  OpenRunSession(db, setup.connection, setup.caption);

  VehicleList vehicles;
  try {
    vehicles = LoadVehicleList(db);
  } catch (const std::exception& error) {
    RunEnded(setup, dayKey, "vehicle list not loaded: " + FailureText(error));
    return counts;
  }
  counts.vehicles = static_cast<int>(vehicles.size());
  try {
    counts.roadNames = static_cast<int>(LoadRoadNames(db).size());
  } catch (const std::exception& error) {
    RunEnded(setup, dayKey, "road names of table roadlightmapinfo not loaded: " + FailureText(error));
    return counts;
  }
  // Without the table every opening row would be refused one by one.
  if (!TableExists(db, kAlarmTable)) {
    RunEnded(setup, dayKey, fmt::format("table {} is missing; no alarm can be written", kAlarmTable));
    return counts;
  }

  EnsureVehicleIndex(db, RowImage{std::string(kAlarmTable), {"SIMID", "BEGINTIME"}, {}});
  PreviousRows previous;
  DayClaim claim;
  const ClaimTiming timing = ClaimTimingFor(setup.connection);
  try {
    Ledger ledger(db);
    ledger.EnsureTables();
    claim = ledger.BeginDay(kLineAlarmCommand, dayKey, "1/1", HostName(), static_cast<long>(getpid()), LedgerNow(),
                            timing.staleAfter);
    previous = PreviousRows::Load(db, kLineAlarmCommand, dayKey, setup.diagnostics);
  } catch (const DayClaimedError&) {
    throw;  // computed elsewhere right now: its rows would come twice
  } catch (const std::exception& error) {
    RunEnded(setup, dayKey, "the day ledger cannot be written or read: " + FailureText(error));
    return counts;
  }
  const ClaimHeartbeat heartbeat(setup.connection, claim, timing.heartbeatEvery);
  bool ended = false;

  // On SQLite each commit waits for the disk: vehicle-days go in transactions of many.
  std::optional<BatchedWriter> batch;
  if (db.GetBackend() == Backend::Sqlite3) batch.emplace(db, setup.diagnostics);
  std::unique_ptr<VehicleDayStore> store = MakeStoreFor(db, batch ? &*batch : nullptr);
  VehicleDayWriter writer(db, *store, previous);
  RecordingSink rows;
  TrackBuffer track;
  // The tracks of the next vehicles are read together, with one query.
  constexpr int kVehiclesRead = 32;
  DayTrackBatch tracks;
  for (int i = 0; i < counts.vehicles; ++i) {
    const std::string& simId = vehicles[static_cast<std::size_t>(i)].simId;
    if (i % kVehiclesRead == 0 && counts.vehicles - i > 1) {
      std::vector<std::string> simIds;
      for (int j = i; j < counts.vehicles && j < i + kVehiclesRead; ++j) {
        simIds.push_back(vehicles[static_cast<std::size_t>(j)].simId);
      }
      try {
        tracks.Read(db, dayKey, simIds);
      } catch (const std::exception&) {
        tracks.Forget();  // each vehicle's own query then tells what fails
      }
    }
    setup.caption.Progress(i, counts.vehicles);
    setup.caption.Show(simId);
    int n = 0;
    LineAlarmScan scan;
    VehicleDayWritten written;
    std::string failure;
    bool loaded = false;
    for (;;) {
      failure.clear();
      loaded = false;
      rows.Clear();
      try {
        if (!tracks.Take(simId, track, n)) n = LoadDayTrack(db, simId, dayKey, track);
        loaded = true;
        setup.caption.Show(fmt::format("{}-{}", simId, n));
        scan = ScanLineAlarms(track, n, setup.geo, rows);
        written = writer.Write(simId, rows.Take(), setup.diagnostics);
        break;
      } catch (const std::exception& error) {
        failure = FailureText(error);
      }
      if (db.Alive()) break;
      setup.diagnostics.Info(
          fmt::format("day {}: the database connection was lost at vehicle {} ({}); reopening it", dayKey, simId,
                      failure));
      if (!ReopenWithPauses(db, setup.connection, nullptr,
                            [&setup](const std::string& line) { setup.diagnostics.Info(line); })) {
        counts.lost = counts.vehicles - i;
        RunEnded(setup, dayKey,
                 fmt::format("the database went away at vehicle {} ({} of {}); {} vehicles not scanned", simId,
                             i + 1, counts.vehicles, counts.lost));
        ended = true;
        break;
      }
    }
    if (ended) break;
    if (!loaded) {
      RunEnded(setup, dayKey,
               fmt::format("day table GPSDATA{} not read for vehicle {} ({} of {}): {}", dayKey, simId, i + 1,
                           counts.vehicles, failure));
      ended = true;
      break;
    }
    if (!failure.empty()) {
      setup.diagnostics.ReportFailed("road-segment alarms", simId, failure);
      continue;
    }
    const int refusedOpenings = scan.opened - written.rows;
    counts.opened += written.rows;
    counts.closed += scan.closed - (written.refused - refusedOpenings);
    counts.refused += written.refused;
    counts.leftOpen += scan.leftOpen ? 1 : 0;
    ++counts.scanned;
    counts.fixes += n;
    if (batch) batch->CommitIfDue();
  }
  if (batch) batch->Commit();
  if (ended) {
    EndLineAlarmDay(db, setup, claim, counts, DayOutcome::Failed);
    return counts;
  }
  setup.caption.Progress(counts.vehicles, counts.vehicles);
  setup.caption.Show(std::string(kLineAlarmEndCaption));
  counts.complete = true;
  EndLineAlarmDay(db, setup, claim, counts,
                  counts.scanned == counts.vehicles && counts.refused == 0 ? DayOutcome::Complete
                                                                             : DayOutcome::Incomplete);
  return counts;
}

}  // namespace cuserver
