#include "run/line_alarm_run.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <unistd.h>

#include "db/dialect.hpp"
#include "db/ledger.hpp"
#include "db/loaders.hpp"
#include "db/row_images.hpp"
#include "db/vehicle_day_store.hpp"
#include "reports/catalog.hpp"
#include "reports/line_alarms.hpp"
#include "reports/track.hpp"
#include "run/failure_text.hpp"
#include "run/run_session.hpp"
#include "run/vehicle_day_writer.hpp"
#include "run/vehicle_listings.hpp"
#include "run/vehicle_queue.hpp"

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

// A worker's session, the store its vehicle-days go through and its track buffers.
struct AlarmWorker {
  AlarmWorker(ReportDatabase& session, RunStore& runStore, const PreviousRows& previous)
      : db(session), store(runStore.StoreFor(session)), writer(session, *store, previous) {}

  ReportDatabase& db;
  std::unique_ptr<VehicleDayStore> store;
  VehicleDayWriter writer;
  DayTrackBatch tracks;
  TrackBuffer track;
  RecordingSink rows;
};

// Where the run ended before its last vehicle: a loader failed, or the
// database stayed away.
struct AlarmRunEnd {
  std::size_t position = 0;
  bool lost = false;
  std::string what;
};

// What the workers share. A vehicle's rows are written only once every
// vehicle before it was written, so that the run writes, counts and shows
// what one worker would, up to a vehicle that ends it.
struct AlarmScan {
  AlarmScan(const std::string& day, const LineAlarmRunSetup& runSetup, const std::vector<std::string>& vehicles,
            VehicleQueueSetup queueSetup, RunStore& runStore)
      : dayKey(day), setup(runSetup), simIds(vehicles), queue(std::move(queueSetup)), store(runStore) {}

  const std::string& dayKey;
  const LineAlarmRunSetup& setup;
  const std::vector<std::string>& simIds;
  VehicleQueue queue;
  RunStore& store;
  std::mutex mutex;  // for totals and end
  LineAlarmRunCounts totals;
  std::optional<AlarmRunEnd> end;  // the earliest

  void EndAt(std::size_t position, bool lost, std::string what, std::vector<std::string> captions) {
    {
      std::lock_guard lock(mutex);
      if (!end || position < end->position) end = AlarmRunEnd{position, lost, std::move(what)};
    }
    queue.EndAt(position, std::move(captions));
  }
  std::string Of(std::size_t position) const { return fmt::format("{} of {}", position + 1, simIds.size()); }
};

// One vehicle's scan, held until the vehicles before it are written.
struct ScannedVehicle {
  int n = 0;
  LineAlarmScan scan;
  std::vector<ReportRow> rows;
  std::string failure;  // the scan failed: nothing is written for the vehicle
};

// Loads and scans the vehicles of one run, then writes them in list order.
// A lost session is reopened and the load or the write tried again.
void ScanRun(AlarmScan& run, AlarmWorker& worker, std::size_t first, std::size_t last) {
  const LineAlarmRunSetup& setup = run.setup;
  ReadRunTracks(worker.tracks, worker.db, run.dayKey,
                std::vector<std::string>(run.simIds.begin() + static_cast<std::ptrdiff_t>(first),
                                         run.simIds.begin() + static_cast<std::ptrdiff_t>(last)));
  std::vector<ScannedVehicle> scanned;
  for (std::size_t at = first; at < last && run.queue.Start(at); ++at) {
    const std::string& simId = run.simIds[at];
    ScannedVehicle& vehicle = scanned.emplace_back();
    std::string failure;
    bool lost = false;
    do {
      try {
        if (!worker.tracks.Take(simId, worker.track, vehicle.n)) {
          vehicle.n = LoadDayTrack(worker.db, simId, run.dayKey, worker.track);
        }
        failure.clear();
        break;
      } catch (const std::exception& error) {
        failure = FailureText(error);
      }
    } while (ReopenAfterLoss(worker.db, setup.connection, nullptr, setup.diagnostics, run.dayKey, simId, failure,
                             lost));
    if (!failure.empty()) {
      scanned.pop_back();
      run.EndAt(at, lost,
                lost ? fmt::format("the database went away at vehicle {} ({}); {} vehicles not scanned", simId,
                                   run.Of(at), run.simIds.size() - at)
                     : fmt::format("day table GPSDATA{} not read for vehicle {} ({}): {}", run.dayKey, simId,
                                   run.Of(at), failure),
                {simId});
      break;
    }
    try {
      worker.rows.Clear();
      vehicle.scan = ScanLineAlarms(worker.track, vehicle.n, setup.geo, worker.rows);
      vehicle.rows = worker.rows.Take();
    } catch (const std::exception& error) {
      vehicle.failure = FailureText(error);
    }
  }
  worker.tracks.Forget();
  if (!run.queue.WaitForEarlier(first)) return;  // the run ended before these vehicles

  for (std::size_t i = 0; i < scanned.size(); ++i) {
    const std::size_t at = first + i;
    const std::string& simId = run.simIds[at];
    ScannedVehicle& vehicle = scanned[i];
    std::vector<std::string> captions{simId, fmt::format("{}-{}", simId, vehicle.n)};
    VehicleDayWritten written;
    std::string failure = vehicle.failure;
    bool lost = false;
    bool reopened = false;
    while (failure.empty()) {
      try {
        // The lost connection may have taken the commit with it, unheard.
        if (reopened) worker.writer.ReadEntryAgain(simId);
        written = worker.writer.Write(simId, vehicle.rows, setup.diagnostics);
        break;
      } catch (const std::exception& error) {
        failure = FailureText(error);
      }
      if (!ReopenAfterLoss(worker.db, setup.connection, nullptr, setup.diagnostics, run.dayKey, simId, failure,
                           lost)) {
        break;
      }
      reopened = true;
      failure.clear();
    }
    if (lost) {
      run.EndAt(at, true,
                fmt::format("the database went away at vehicle {} ({}); {} vehicles not scanned", simId, run.Of(at),
                            run.simIds.size() - at),
                std::move(captions));
      return;
    }
    if (!failure.empty()) {
      setup.diagnostics.ReportFailed("road-segment alarms", simId, failure);
    } else {
      const int refusedOpenings = vehicle.scan.opened - written.rows;
      std::lock_guard lock(run.mutex);
      run.totals.opened += written.rows;
      run.totals.closed += vehicle.scan.closed - (written.refused - refusedOpenings);
      run.totals.refused += written.refused;
      run.totals.leftOpen += vehicle.scan.leftOpen ? 1 : 0;
      ++run.totals.scanned;
      run.totals.fixes += vehicle.n;
    }
    run.queue.Finish(at, std::move(captions));
    run.store.CommitIfDue();
  }
}

void ScanVehicles(AlarmScan& run, AlarmWorker& worker) {
  while (auto taken = run.queue.TakeRun()) ScanRun(run, worker, taken->first, taken->second);
}

}  // namespace

LineAlarmRunCounts ComputeLineAlarms(const std::string& dayKey, const LineAlarmRunSetup& setup) {
  LineAlarmRunCounts counts;
  const int failuresBefore = setup.diagnostics.Failures();
  ReportDatabase db;
  OpenRunSession(db, setup.connection, setup.caption);

  VehicleList vehicles;
  try {
    vehicles = LoadVehicleList(db);
  } catch (const std::exception& error) {
    RunEnded(setup, dayKey, "vehicle list not loaded: " + FailureText(error));
    return counts;
  }
  const std::vector<std::size_t> listings = FirstListings(vehicles, counts.catalogue);
  TellCatalogueNotes(counts.catalogue, dayKey, setup.diagnostics);
  counts.vehicles = static_cast<int>(listings.size());
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

  // The run's store says whether the vehicle-days go through the run's
  // session, whichever worker scanned them (SQLite, where each commit waits
  // for the disk), or through each worker's own.
  const std::unique_ptr<RunStore> store = OpenRunStore(db, setup.diagnostics);
  std::vector<std::string> simIds;
  for (const std::size_t i : listings) simIds.push_back(vehicles[i].simId);
  const std::size_t wanted =
      std::min<std::size_t>(static_cast<std::size_t>(std::max(setup.jobs, 1)), std::max<std::size_t>(simIds.size(), 1));
  const WorkerSessions sessions(db, setup.connection, wanted, store->WritesThroughRunSession(), setup.diagnostics);
  std::vector<std::unique_ptr<AlarmWorker>> workers;
  for (ReportDatabase* session : sessions.Sessions()) {
    workers.push_back(std::make_unique<AlarmWorker>(*session, *store, previous));
  }

  VehicleQueueSetup queueSetup;
  queueSetup.vehicles = simIds.size();
  queueSetup.runLength = VehicleRunLength(store->LongestRun(), simIds.size(), workers.size());
  // Each vehicle shows its SIMID, then its SIMID with its fix count, in list order.
  queueSetup.tell = [&](std::size_t position, const std::vector<std::string>& captions) {
    try {
      setup.caption.Progress(static_cast<int>(position), counts.vehicles);
      for (const std::string& caption : captions) setup.caption.Show(caption);
    } catch (...) {
      // Only the display suffers.
    }
  };
  AlarmScan scan(dayKey, setup, simIds, std::move(queueSetup), *store);
  if (workers.size() == 1) {
    ScanVehicles(scan, *workers.front());
  } else {
    std::vector<std::jthread> threads;
    for (auto& worker : workers) threads.emplace_back([&scan, w = worker.get()] { ScanVehicles(scan, *w); });
  }
  scan.queue.End();
  store->Commit();
  counts.scanned = scan.totals.scanned;
  counts.fixes = scan.totals.fixes;
  counts.opened = scan.totals.opened;
  counts.closed = scan.totals.closed;
  counts.refused = scan.totals.refused;
  counts.leftOpen = scan.totals.leftOpen;
  if (scan.end) {
    if (scan.end->lost) counts.lost = counts.vehicles - static_cast<int>(scan.end->position);
    RunEnded(setup, dayKey, scan.end->what);
    EndLineAlarmDay(db, setup, claim, counts, DayOutcome::Failed);
    return counts;
  }
  setup.caption.Progress(counts.vehicles, counts.vehicles);
  setup.caption.Show(std::string(kLineAlarmEndCaption));
  counts.complete = true;
  // Any failure the run told ends the command with status 1: such a day is not complete.
  const bool failures = setup.diagnostics.Failures() > failuresBefore;
  EndLineAlarmDay(db, setup, claim, counts,
                  counts.scanned == counts.vehicles && counts.refused == 0 && !failures ? DayOutcome::Complete
                                                                                         : DayOutcome::Incomplete);
  return counts;
}

}  // namespace cuserver
