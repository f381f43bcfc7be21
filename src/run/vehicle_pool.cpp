#include "run/vehicle_pool.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "db/batched_writer.hpp"
#include "db/pg_batch.hpp"
#include "run/failure_text.hpp"

namespace cuserver {
namespace {

// Hands out vehicles in list order and appends their run-log lines in list
// order. With a batched writer a vehicle's lines wait until its rows are
// committed, so the log never tells of rows the database does not hold.
class VehicleQueue {
 public:
  VehicleQueue(const std::vector<PlannedVehicle>& vehicles, const VehiclePoolSetup& setup, BatchedWriter* writer)
      : vehicles_(vehicles), setup_(setup), writer_(writer), finished_(vehicles.size()) {}

  // The position of the next vehicle, its captions shown; nullopt when all are handed out.
  std::optional<std::size_t> Take() {
    std::lock_guard lock(mutex_);
    if (next_ == vehicles_.size()) return std::nullopt;
    const std::size_t position = next_++;
    const PlannedVehicle& vehicle = vehicles_[position];
    try {
      setup_.caption.Progress(static_cast<int>(position), static_cast<int>(vehicles_.size()));
      setup_.caption.Show(fmt::format("{} - {} - {}", vehicle.simId, vehicle.index, setup_.shared.dayKey));
    } catch (...) {
      // Only the display suffers; the vehicle is worked on all the same.
    }
    return position;
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

  // Every row is committed: the remaining lines go to the log.
  void End() {
    if (writer_ != nullptr) writer_->Commit();
    std::lock_guard lock(mutex_);
    durable_ = sequence_;
    AppendDurableLines();
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
  std::mutex mutex_;
  std::size_t next_ = 0;
  std::size_t logged_ = 0;
  std::uint64_t sequence_ = 0;
  std::uint64_t durable_ = 0;
  std::vector<std::optional<Finished>> finished_;
};

struct Tally {
  std::atomic<int> reported{0};
  std::atomic<int> withoutFixes{0};
  std::atomic<int> skipped{0};
};

// A worker and, on PostgreSQL, the batch its rows wait in until the vehicle is done.
struct WorkerSlot {
  std::unique_ptr<PostgresStatementBatch> batch;
  std::unique_ptr<VehicleWorker> worker;
};

void WorkerLoop(VehicleQueue& queue, WorkerSlot& slot, const VehiclePoolSetup& setup,
                const std::vector<PlannedVehicle>& vehicles, Tally& tally) {
  VehicleWorker& worker = *slot.worker;
  while (auto position = queue.Take()) {
    const std::string& simId = vehicles[*position].simId;
    try {
      switch (RunVehicle(setup.shared, worker, simId)) {
        case VehicleOutcome::Reported: ++tally.reported; break;
        case VehicleOutcome::NoFixes: ++tally.withoutFixes; break;
        case VehicleOutcome::Skipped: ++tally.skipped; break;
      }
    } catch (...) {
      ++tally.skipped;
      setup.shared.diagnostics.VehicleSkipped(simId, FailureText(std::current_exception()));
    }
    if (slot.batch) slot.batch->Flush();
    queue.Finish(*position, std::move(worker.LogLines()));
    worker.LogLines().clear();
  }
}

}  // namespace

VehiclePoolCounts WorkVehicles(const std::vector<PlannedVehicle>& vehicles, const VehiclePoolSetup& setup) {
  Diagnostics& diagnostics = setup.shared.diagnostics;
  const std::size_t wanted = std::min<std::size_t>(static_cast<std::size_t>(std::max(setup.jobs, 1)),
                                                   std::max<std::size_t>(vehicles.size(), 1));
  // SQLite: every worker's rows go through the run's session in transactions
  // of many rows; with several workers each reads through a session of its own.
  std::unique_ptr<BatchedWriter> writer;
  std::unique_ptr<BatchedStatementSink> batchedRows;
  if (setup.runDatabase.GetBackend() == Backend::Sqlite3) {
    writer = std::make_unique<BatchedWriter>(setup.runDatabase, diagnostics);
    batchedRows = std::make_unique<BatchedStatementSink>(*writer);
  }
  // PostgreSQL: each worker sends its vehicle's rows in one round trip.
  const bool postgresql = setup.runDatabase.GetBackend() == Backend::Postgresql;
  const auto makeWorker = [&](ReportDatabase& db) {
    WorkerSlot slot;
    if (batchedRows) {
      slot.worker = std::make_unique<VehicleWorker>(db, *batchedRows, diagnostics);
    } else if (postgresql) {
      slot.batch = std::make_unique<PostgresStatementBatch>(db, diagnostics);
      slot.worker = std::make_unique<VehicleWorker>(db, *slot.batch, diagnostics);
    } else {
      slot.worker = std::make_unique<VehicleWorker>(db, diagnostics);
    }
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

  VehicleQueue queue(vehicles, setup, writer.get());
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
  return {tally.reported.load(), tally.withoutFixes.load(), tally.skipped.load(),
          static_cast<int>(workers.size())};
}

}  // namespace cuserver
