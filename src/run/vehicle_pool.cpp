#include "run/vehicle_pool.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "db/vehicle_day_store.hpp"
#include "run/failure_text.hpp"
#include "run/vehicle_queue.hpp"

namespace cuserver {
namespace {

struct Tally {
  std::atomic<int> reported{0};
  std::atomic<int> withoutFixes{0};
  std::atomic<int> skipped{0};
  std::atomic<int> rowsWritten{0};
  std::atomic<int> rowsRefused{0};
  std::mutex lostMutex;
  std::vector<std::size_t> lost;  // positions
  std::mutex tablesMutex;  // also guards quality
  std::map<std::string, int> rowsByTable;
  TrackQuality quality;
};

// Reads a run's day tracks on a session of its own while the worker
// computes the run before it. On a database server the reading is mostly the
// server's work, which then goes on beside the worker's instead of between
// its vehicles.
class RunReader {
 public:
  // nullptr when the database refuses the session: the worker reads itself.
  static std::unique_ptr<RunReader> Open(const ConnectionSettings& connection) {
    auto reader = std::make_unique<RunReader>(connection);
    try {
      reader->db_.OpenReportSession(connection);
    } catch (...) {
      return nullptr;
    }
    return reader;
  }
  explicit RunReader(const ConnectionSettings& connection) : connection_(connection) {}
  ~RunReader() { Join(); }

  void Start(const std::string& dayKey, std::vector<std::string> simIds) {
    Join();
    dayKey_ = dayKey;
    simIds_ = std::move(simIds);
    try {
      thread_ = std::thread([this] { Read(); });
    } catch (...) {
      Read();  // no thread to be had: read now
    }
  }
  // The tracks read since Start, in place of what `batch` held; nothing when
  // the read failed (each vehicle is then loaded by itself).
  void Finish(DayTrackBatch& batch) {
    Join();
    std::swap(batch, batch_);
    batch_.Forget();
  }

 private:
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  // A session lost since the last run is opened again once; a server that
  // stays away is the worker's to wait for, as it loads its vehicles itself.
  void Read() {
    if (simIds_.size() < 2) return;
    for (int attempt = 0;; ++attempt) {
      try {
        batch_.Read(db_, dayKey_, simIds_);
        return;
      } catch (...) {
        batch_.Forget();
      }
      if (attempt > 0 || db_.Alive()) return;
      try {
        db_.OpenReportSession(connection_);
      } catch (...) {
        return;
      }
    }
  }

  const ConnectionSettings connection_;
  ReportDatabase db_;
  std::string dayKey_;
  std::vector<std::string> simIds_;  // the run being read
  DayTrackBatch batch_;
  std::thread thread_;
};

// A worker with its session, the store its vehicle-days go through and the
// writer that replaces them.
struct WorkerSlot {
  ReportDatabase* db = nullptr;
  std::unique_ptr<VehicleWorker> worker;
  std::unique_ptr<VehicleDayStore> store;
  std::unique_ptr<VehicleDayWriter> writer;
  std::unique_ptr<RunReader> reader;  // null: the worker reads each run itself
};

// One try at a vehicle: its diagnostics are kept apart until it stands.
struct Attempt {
  std::vector<std::string> lines;
  Diagnostics diagnostics{[this](const std::string& line) { lines.push_back(line); }};
  VehicleOutcome outcome = VehicleOutcome::Skipped;
  std::string failure;  // why the vehicle was not computed
  // The server took the vehicle-day's transaction back (two workers'
  // deadlock): nothing of it was written, and it may be tried again.
  bool takenBack = false;
  VehicleDayWritten written;
};

// How often a vehicle-day the server took back is tried again before the
// vehicle is given up.
constexpr int kTakenBackTries = 3;

std::unique_ptr<Attempt> TryVehicle(const VehiclePoolSetup& setup, WorkerSlot& slot, const std::string& simId) {
  auto made = std::make_unique<Attempt>();
  Attempt& attempt = *made;
  try {
    attempt.outcome = RunVehicle(setup.shared, *slot.worker, simId, attempt.diagnostics, attempt.failure);
    if (attempt.outcome != VehicleOutcome::Skipped) {
      attempt.written =
          slot.writer->Write(simId, slot.worker->Rows().Take(), attempt.diagnostics, &slot.worker->Quality());
    }
  } catch (const DatabaseError& error) {
    attempt.outcome = VehicleOutcome::Skipped;
    attempt.failure = "rows not written: " + FailureText(std::current_exception());
    attempt.takenBack = error.Kind() == DatabaseErrorKind::TransactionLost;
  } catch (...) {
    attempt.outcome = VehicleOutcome::Skipped;
    attempt.failure = "rows not written: " + FailureText(std::current_exception());
  }
  return made;
}

// After a lost connection: the vehicle's last commit may have taken, unheard.
std::unique_ptr<Attempt> TryVehicleAgain(const VehiclePoolSetup& setup, WorkerSlot& slot, const std::string& simId) {
  try {
    slot.writer->ReadEntryAgain(simId);
  } catch (...) {
    auto made = std::make_unique<Attempt>();
    made->failure = "its ledger entry could not be read again: " + FailureText(std::current_exception());
    return made;
  }
  return TryVehicle(setup, slot, simId);
}

void WorkRun(VehicleQueue& queue, WorkerSlot& slot, const VehiclePoolSetup& setup,
             const std::vector<PlannedVehicle>& vehicles, Tally& tally, std::size_t first, std::size_t last);

std::vector<std::string> RunSimIds(const std::vector<PlannedVehicle>& vehicles,
                                   const std::pair<std::size_t, std::size_t>& run) {
  std::vector<std::string> simIds;
  for (std::size_t i = run.first; i < run.second; ++i) simIds.push_back(vehicles[i].simId);
  return simIds;
}

void WorkerLoop(VehicleQueue& queue, WorkerSlot& slot, const VehiclePoolSetup& setup,
                const std::vector<PlannedVehicle>& vehicles, Tally& tally) {
  const std::string& dayKey = setup.shared.dayKey;
  auto run = queue.TakeRun();
  if (run && slot.reader) slot.reader->Start(dayKey, RunSimIds(vehicles, *run));
  const bool batches = !setup.shared.plainReads;
  while (run) {
    // The worker's runs are read one ahead: the next while this one is worked.
    std::optional<std::pair<std::size_t, std::size_t>> next;
    if (slot.reader) {
      slot.reader->Finish(slot.worker->Batch());
      next = queue.TakeRun();
      if (next) slot.reader->Start(dayKey, RunSimIds(vehicles, *next));
    } else if (batches) {
      ReadRunTracks(slot.worker->Batch(), *slot.db, dayKey, RunSimIds(vehicles, *run));
    }
    WorkRun(queue, slot, setup, vehicles, tally, run->first, run->second);
    run = slot.reader ? next : queue.TakeRun();
  }
}

// The vehicles of one run, their day tracks read with one query.
void WorkRun(VehicleQueue& queue, WorkerSlot& slot, const VehiclePoolSetup& setup,
             const std::vector<PlannedVehicle>& vehicles, Tally& tally, std::size_t first, std::size_t last) {
  Diagnostics& diagnostics = setup.shared.diagnostics;
  DayTrackBatch& batch = slot.worker->Batch();
  for (std::size_t at = first; at < last; ++at) {
    if (!queue.Start(at)) break;
    const std::size_t* position = &at;
    const std::string& simId = vehicles[*position].simId;
    std::unique_ptr<Attempt> attempt = TryVehicle(setup, slot, simId);
    for (int again = 0; attempt->outcome == VehicleOutcome::Skipped && attempt->takenBack && again < kTakenBackTries;
         ++again) {
      attempt = TryVehicleAgain(setup, slot, simId);
    }
    bool lost = false;
    // A session that no longer answers is reopened and the vehicle computed again.
    while (attempt->outcome == VehicleOutcome::Skipped &&
           ReopenAfterLoss(*slot.db, setup.connection, setup.stop, diagnostics, setup.shared.dayKey, simId,
                           attempt->failure, lost)) {
      attempt = TryVehicleAgain(setup, slot, simId);
    }
    if (lost) {
      slot.worker->LogLines().clear();
      {
        std::lock_guard lock(tally.lostMutex);
        tally.lost.push_back(*position);
      }
      queue.Close();
      queue.Finish(*position, {});
      continue;
    }
    switch (attempt->outcome) {
      case VehicleOutcome::Reported: ++tally.reported; break;
      case VehicleOutcome::NoFixes: ++tally.withoutFixes; break;
      case VehicleOutcome::Skipped:
        ++tally.skipped;
        attempt->diagnostics.VehicleSkipped(simId, attempt->failure);
        slot.worker->LogLines().clear();
        break;
    }
    tally.rowsWritten += attempt->written.rows;
    tally.rowsRefused += attempt->written.refused;
    if (attempt->outcome != VehicleOutcome::Skipped) {
      std::lock_guard lock(tally.tablesMutex);
      for (const auto& [table, rows] : attempt->written.rowsByTable) tally.rowsByTable[table] += rows;
      tally.quality.Add(slot.worker->Quality());
    }
    diagnostics.Absorb(attempt->diagnostics, attempt->lines);
    queue.Finish(*position, std::move(slot.worker->LogLines()));
    slot.worker->LogLines().clear();
  }
  batch.Forget();
}

}  // namespace

VehiclePoolCounts WorkVehicles(const std::vector<PlannedVehicle>& vehicles, const VehiclePoolSetup& setup) {
  Diagnostics& diagnostics = setup.shared.diagnostics;
  const std::size_t wanted = std::min<std::size_t>(static_cast<std::size_t>(std::max(setup.jobs, 1)),
                                                   std::max<std::size_t>(vehicles.size(), 1));
  // The run's store says how the workers write: through the run's session
  // (each worker then reads through a session of its own) or each through
  // its own; and whether a worker reads its next run ahead while it computes.
  std::unique_ptr<RunStore> store = OpenRunStore(setup.runDatabase, diagnostics);
  const WorkerSessions sessions(setup.runDatabase, setup.connection, wanted, store->WritesThroughRunSession(),
                                diagnostics);
  std::vector<WorkerSlot> workers;
  for (ReportDatabase* db : sessions.Sessions()) {
    WorkerSlot& slot = workers.emplace_back();
    slot.db = db;
    slot.worker = std::make_unique<VehicleWorker>(*db);
    slot.store = store->StoreFor(*db);
    slot.writer = std::make_unique<VehicleDayWriter>(*db, *slot.store, setup.previous);
  }
  const std::size_t runLength = VehicleRunLength(store->LongestRun(), vehicles.size(), workers.size());
  if (store->ReadsAhead() && vehicles.size() > runLength && !setup.shared.plainReads) {
    for (WorkerSlot& slot : workers) slot.reader = RunReader::Open(setup.connection);
  }

  VehicleQueueSetup queueSetup;
  queueSetup.vehicles = vehicles.size();
  queueSetup.runLength = runLength;
  queueSetup.stop = setup.stop;
  queueSetup.store = store.get();
  queueSetup.started = [&](std::size_t position) {
    try {
      setup.caption.Progress(static_cast<int>(position), static_cast<int>(vehicles.size()));
      setup.caption.Show(
          fmt::format("{} - {} - {}", vehicles[position].simId, vehicles[position].index, setup.shared.dayKey));
    } catch (...) {
      // Only the display suffers; the vehicle is worked on all the same.
    }
  };
  // With a store that commits later a vehicle's lines wait until its rows are
  // committed, so the log never tells of rows the database does not hold.
  queueSetup.tell = [&](std::size_t, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) setup.shared.runLog.Append(line);
  };
  VehicleQueue queue(std::move(queueSetup));
  Tally tally;
  if (workers.size() == 1) {
    WorkerLoop(queue, workers.front(), setup, vehicles, tally);
  } else {
    std::vector<std::jthread> threads;
    for (auto& slot : workers) {
      threads.emplace_back([&, w = &slot] { WorkerLoop(queue, *w, setup, vehicles, tally); });
    }
  }
  queue.End();
  VehiclePoolCounts counts;
  counts.reported = tally.reported.load();
  counts.withoutFixes = tally.withoutFixes.load();
  counts.skipped = tally.skipped.load();
  counts.workers = static_cast<int>(workers.size());
  counts.rowsWritten = tally.rowsWritten.load();
  counts.rowsRefused = tally.rowsRefused.load();
  counts.rowsByTable = tally.rowsByTable;
  counts.quality = tally.quality;
  std::vector<std::size_t> lost = tally.lost;
  const std::vector<std::size_t> untaken = queue.Untaken();
  if (!lost.empty()) {
    lost.insert(lost.end(), untaken.begin(), untaken.end());
  } else if (queue.Stopped()) {
    counts.notStarted = static_cast<int>(untaken.size());
  }
  std::sort(lost.begin(), lost.end());
  for (std::size_t position : lost) counts.lost.push_back(vehicles[position].simId);
  return counts;
}

}  // namespace cuserver
