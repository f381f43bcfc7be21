#include "run/line_alarm_run.hpp"

#include <fmt/format.h>

#include <exception>
#include <memory>
#include <optional>

#include "db/adapters.hpp"
#include "db/batched_writer.hpp"
#include "db/dialect.hpp"
#include "db/loaders.hpp"
#include "reports/catalog.hpp"
#include "reports/line_alarms.hpp"
#include "reports/track.hpp"
#include "run/failure_text.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

constexpr std::string_view kAlarmTable = "LINEALARMREPROT";

void RunEnded(const LineAlarmRunSetup& setup, const std::string& dayKey, const std::string& what) {
  setup.diagnostics.Failure(fmt::format("day {}: road-segment alarm run ended: {}", dayKey, what));
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

  // On SQLite each commit waits for the disk: rows go in transactions of many.
  std::optional<BatchedWriter> batch;
  std::unique_ptr<StatementSink> rows;
  if (db.GetBackend() == Backend::Sqlite3) {
    batch.emplace(db, setup.diagnostics);
    rows = std::make_unique<BatchedStatementSink>(*batch);
  } else {
    rows = std::make_unique<DbStatementSink>(db, setup.diagnostics);
  }
  TrackBuffer track;
  for (int i = 0; i < counts.vehicles; ++i) {
    const std::string& simId = vehicles[static_cast<std::size_t>(i)].simId;
    setup.caption.Progress(i, counts.vehicles);
    setup.caption.Show(simId);
    int n = 0;
    try {
      n = LoadDayTrack(db, simId, dayKey, track);
    } catch (const std::exception& error) {
      RunEnded(setup, dayKey,
               fmt::format("day table GPSDATA{} not read for vehicle {} ({} of {}): {}", dayKey, simId, i + 1,
                           counts.vehicles, FailureText(error)));
      return counts;
    }
    setup.caption.Show(fmt::format("{}-{}", simId, n));
    try {
      LineAlarmScan scan = ScanLineAlarms(track, n, setup.geo, *rows);
      counts.opened += scan.opened;
      counts.closed += scan.closed;
      counts.leftOpen += scan.leftOpen ? 1 : 0;
    } catch (const std::exception& error) {
      setup.diagnostics.ReportFailed("road-segment alarms", simId, FailureText(error));
      continue;
    }
    ++counts.scanned;
    counts.fixes += n;
    if (batch) batch->CommitIfDue();
  }
  if (batch) batch->Commit();
  setup.caption.Progress(counts.vehicles, counts.vehicles);
  setup.caption.Show(std::string(kLineAlarmEndCaption));
  counts.complete = true;
  return counts;
}

}  // namespace cuserver
