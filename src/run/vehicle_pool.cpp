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

#include "db/batched_writer.hpp"
#include "db/reconnect.hpp"
#include "db/vehicle_day_store.hpp"
#include "run/failure_text.hpp"

namespace cuserver {
namespace {

// Hands out vehicles in list order and appends their run-log lines in list
// order. With a batched writer a vehicle's lines wait until its rows are
// committed, so the log never tells of rows the database does not hold.
class VehicleQueue {
 public:
  VehicleQueue(const std::vector<PlannedVehicle>& vehicles, const VehiclePoolSetup& setup, BatchedWriter* writer,
               std::size_t runLength)
      : vehicles_(vehicles),
        setup_(setup),
        writer_(writer),
        runLength_(std::max<std::size_t>(runLength, 1)),
        started_(vehicles.size(), 0),
        finished_(vehicles.size()) {}

  // The next run of consecutive vehicles [first, last) for one worker to read
  // together; nullopt when all are handed out, the stop flag is raised or the
  // database went away.
  std::optional<std::pair<std::size_t, std::size_t>> TakeRun() {
    std::lock_guard lock(mutex_);
    if (next_ == vehicles_.size() || closed_ || stopped_) return std::nullopt;
    if (setup_.stop != nullptr && setup_.stop->load()) {
      stopped_ = true;
      return std::nullopt;
    }
    const std::size_t first = next_;
    next_ = std::min(vehicles_.size(), next_ + runLength_);
    return std::pair{first, next_};
  }

  // The vehicle at `position` (of a run taken) is started; false when it may
  // not be: the stop flag is raised or the database went away. Captions are
  // shown in list order: a vehicle's once every vehicle before it started.
  bool Start(std::size_t position) {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    if (stopped_ || (setup_.stop != nullptr && setup_.stop->load())) {
      stopped_ = true;
      return false;
    }
    started_[position] = 1;
    while (shown_ < vehicles_.size() && started_[shown_]) {
      const PlannedVehicle& vehicle = vehicles_[shown_];
      try {
        setup_.caption.Progress(static_cast<int>(shown_), static_cast<int>(vehicles_.size()));
        setup_.caption.Show(fmt::format("{} - {} - {}", vehicle.simId, vehicle.index, setup_.shared.dayKey));
      } catch (...) {
        // Only the display suffers; the vehicle is worked on all the same.
      }
      ++shown_;
    }
    return true;
  }

  // The vehicle's rows have all been executed.
  void Finish(std::size_t position, std::vector<std::string> lines) {
    std::uint64_t finishedBefore = 0;
    {
      std::lock_guard lock(mutex_);
      finished_[position] = Finished{++sequence_, std::move(lines)};
      finishedBefore = sequence_;
      if (writer_ == nullptr) durable_ = sequence_;
    }
    if (writer_ != nullptr && writer_->CommitIfDue()) MarkDurable(finishedBefore);
    std::lock_guard lock(mutex_);
    AppendDurableLines();
  }

  // No further vehicle is handed out: the database went away.
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  // The vehicles never started, in list order.
  std::vector<std::size_t> Untaken() const {
    std::lock_guard lock(mutex_);
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < vehicles_.size(); ++i) {
      if (!started_[i]) positions.push_back(i);
    }
    return positions;
  }
  bool Stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
  }

  // Every row is committed: the remaining lines go to the log.
  void End() {
    if (writer_ != nullptr) writer_->Commit();
    std::lock_guard lock(mutex_);
    durable_ = sequence_;
    AppendDurableLines();
    // Vehicles never started (a stop, a database gone) leave gaps; the lines
    // of those after them are appended all the same.
    while (logged_ < vehicles_.size()) {
      if (finished_[logged_]) {
        for (const std::string& line : finished_[logged_]->lines) setup_.shared.runLog.Append(line);
        finished_[logged_].reset();
      }
      ++logged_;
    }
  }

 private:
  struct Finished {
    std::uint64_t sequence = 0;  // order of finishing, from 1
    std::vector<std::string> lines;
  };

  void MarkDurable(std::uint64_t sequence) {
    std::lock_guard lock(mutex_);
    durable_ = std::max(durable_, sequence);
  }

  void AppendDurableLines() {
    while (logged_ < vehicles_.size() && finished_[logged_] && finished_[logged_]->sequence <= durable_) {
      for (const std::string& line : finished_[logged_]->lines) setup_.shared.runLog.Append(line);
      finished_[logged_].reset();
      ++logged_;
    }
  }

  const std::vector<PlannedVehicle>& vehicles_;
  const VehiclePoolSetup& setup_;
  BatchedWriter* writer_;
  std::size_t runLength_;
  mutable std::mutex mutex_;
  std::size_t next_ = 0;
  bool closed_ = false;
  bool stopped_ = false;
  std::vector<char> started_;
  std::size_t shown_ = 0;  // captions shown for the vehicles before this position
  std::size_t logged_ = 0;
  std::uint64_t sequence_ = 0;
  std::uint64_t durable_ = 0;
  std::vector<std::optional<Finished>> finished_;
};

struct Tally {
  std::atomic<int> reported{0};
  std::atomic<int> withoutFixes{0};
  std::atomic<int> skipped{0};
  std::atomic<int> rowsWritten{0};
  std::atomic<int> rowsRefused{0};
  std::mutex lostMutex;
  std::vector<std::size_t> lost;  // positions
  std::mutex tablesMutex;
  std::map<std::string, int> rowsByTable;
};

// A worker with its session, the store its vehicle-days go through and the
// writer that replaces them.
struct WorkerSlot {
  ReportDatabase* db = nullptr;
  std::unique_ptr<VehicleWorker> worker;
  std::unique_ptr<VehicleDayStore> store;
  std::unique_ptr<VehicleDayWriter> writer;
};

// One try at a vehicle: its diagnostics are kept apart until it stands.
struct Attempt {
  std::vector<std::string> lines;
  Diagnostics diagnostics{[this](const std::string& line) { lines.push_back(line); }};
  VehicleOutcome outcome = VehicleOutcome::Skipped;
  std::string failure;  // why the vehicle was not computed
  VehicleDayWritten written;
};

std::unique_ptr<Attempt> TryVehicle(const VehiclePoolSetup& setup, WorkerSlot& slot, const std::string& simId) {
  auto made = std::make_unique<Attempt>();
  Attempt& attempt = *made;
  try {
    attempt.outcome = RunVehicle(setup.shared, *slot.worker, simId, attempt.diagnostics, attempt.failure);
    if (attempt.outcome != VehicleOutcome::Skipped) {
      attempt.written = slot.writer->Write(simId, slot.worker->Rows().Take(), attempt.diagnostics);
    }
  } catch (...) {
    attempt.outcome = VehicleOutcome::Skipped;
    attempt.failure = "rows not written: " + FailureText(std::current_exception());
  }
  return made;
}

void WorkRun(VehicleQueue& queue, WorkerSlot& slot, const VehiclePoolSetup& setup,
             const std::vector<PlannedVehicle>& vehicles, Tally& tally, std::size_t first, std::size_t last);

void WorkerLoop(VehicleQueue& queue, WorkerSlot& slot, const VehiclePoolSetup& setup,
                const std::vector<PlannedVehicle>& vehicles, Tally& tally) {
  while (auto run = queue.TakeRun()) {
    WorkRun(queue, slot, setup, vehicles, tally, run->first, run->second);
  }
}

// The vehicles of one run, their day tracks read with one query.
void WorkRun(VehicleQueue& queue, WorkerSlot& slot, const VehiclePoolSetup& setup,
             const std::vector<PlannedVehicle>& vehicles, Tally& tally, std::size_t first, std::size_t last) {
  Diagnostics& diagnostics = setup.shared.diagnostics;
  DayTrackBatch& batch = slot.worker->Batch();
  if (last - first > 1) {
    std::vector<std::string> simIds;
    for (std::size_t i = first; i < last; ++i) simIds.push_back(vehicles[i].simId);
    try {
      batch.Read(*slot.db, setup.shared.dayKey, simIds);
    } catch (...) {
      // Each vehicle is then loaded by itself, and fails or not as it would.
      batch.Forget();
    }
  }
  for (std::size_t at = first; at < last; ++at) {
    if (!queue.Start(at)) break;
    const std::size_t* position = &at;
    const std::string& simId = vehicles[*position].simId;
    std::unique_ptr<Attempt> attempt = TryVehicle(setup, slot, simId);
    bool lost = false;
    // A session that no longer answers is reopened and the vehicle computed again.
    while (attempt->outcome == VehicleOutcome::Skipped && !slot.db->Alive()) {
      diagnostics.Info(fmt::format("day {}: the database connection was lost at vehicle {} ({}); reopening it",
                                   setup.shared.dayKey, simId, attempt->failure));
      const bool reopened = ReopenWithPauses(*slot.db, setup.connection, setup.stop,
                                             [&diagnostics](const std::string& line) { diagnostics.Info(line); });
      if (!reopened) {
        lost = true;
        break;
      }
      attempt = TryVehicle(setup, slot, simId);
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
    if (!attempt->written.rowsByTable.empty()) {
      std::lock_guard lock(tally.tablesMutex);
      for (const auto& [table, rows] : attempt->written.rowsByTable) tally.rowsByTable[table] += rows;
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
  // SQLite: every worker's rows go through the run's session in transactions
  // of many vehicle-days; with several workers each reads through a session
  // of its own. Elsewhere each worker writes its vehicle-days itself.
  std::unique_ptr<BatchedWriter> writer;
  if (setup.runDatabase.GetBackend() == Backend::Sqlite3) {
    writer = std::make_unique<BatchedWriter>(setup.runDatabase, diagnostics);
  }
  const auto makeWorker = [&](ReportDatabase& db) {
    WorkerSlot slot;
    slot.db = &db;
    slot.worker = std::make_unique<VehicleWorker>(db);
    slot.store = MakeStoreFor(db, writer.get());
    slot.writer = std::make_unique<VehicleDayWriter>(db, *slot.store, setup.previous);
    return slot;
  };

  std::vector<std::unique_ptr<ReportDatabase>> sessions;
  std::vector<WorkerSlot> workers;
  if (wanted == 1 || !writer) workers.push_back(makeWorker(setup.runDatabase));
  while (workers.size() < wanted) {
    auto db = std::make_unique<ReportDatabase>();
    try {
      db->OpenReportSession(setup.connection);
    } catch (...) {
      diagnostics.Info(fmt::format("worker {} has no database session of its own ({}); {} workers go on",
                                   workers.size() + 1, FailureText(std::current_exception()), workers.size()));
      break;
    }
    workers.push_back(makeWorker(*db));
    sessions.push_back(std::move(db));
  }
  if (workers.empty()) workers.push_back(makeWorker(setup.runDatabase));

  // Runs short enough that the workers share the day evenly and a run's
  // tracks stay small, long enough that a query reads many vehicles. A
  // server's answer is held whole until read: shorter runs keep it small.
  const std::size_t longest = setup.runDatabase.GetBackend() == Backend::Sqlite3 ? 16 : 8;
  const std::size_t runLength = std::clamp<std::size_t>(vehicles.size() / (workers.size() * 4), 1, longest);
  VehicleQueue queue(vehicles, setup, writer.get(), runLength);
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
