#include "run/vehicle_queue.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "db/vehicle_day_store.hpp"
#include "db/loaders.hpp"
#include "db/reconnect.hpp"
#include "run/failure_text.hpp"

namespace cuserver {

VehicleQueue::VehicleQueue(VehicleQueueSetup setup)
    : setup_(std::move(setup)),
      end_(setup_.vehicles),
      started_(setup_.vehicles, 0),
      finished_(setup_.vehicles) {
  setup_.runLength = std::max<std::size_t>(setup_.runLength, 1);
}

bool VehicleQueue::StopRaised() {
  if (!stopped_ && setup_.stop != nullptr && setup_.stop->load()) {
    stopped_ = true;
    told_.notify_all();
  }
  return stopped_;
}

std::optional<std::pair<std::size_t, std::size_t>> VehicleQueue::TakeRun() {
  std::lock_guard lock(mutex_);
  if (next_ == setup_.vehicles || next_ > end_ || closed_ || StopRaised()) return std::nullopt;
  const std::size_t first = next_;
  next_ = std::min(setup_.vehicles, next_ + setup_.runLength);
  return std::pair{first, next_};
}

bool VehicleQueue::Start(std::size_t position) {
  std::lock_guard lock(mutex_);
  if (closed_ || position > end_ || StopRaised()) return false;
  started_[position] = 1;
  while (shown_ < setup_.vehicles && started_[shown_]) {
    if (setup_.started) setup_.started(shown_);
    ++shown_;
  }
  return true;
}

void VehicleQueue::Finish(std::size_t position, std::vector<std::string> lines) {
  std::uint64_t finishedBefore = 0;
  {
    std::lock_guard lock(mutex_);
    finished_[position] = Finished{++sequence_, std::move(lines)};
    finishedBefore = sequence_;
    if (!CommitsLater()) durable_ = sequence_;
  }
  if (CommitsLater() && setup_.store->CommitIfDue()) MarkDurable(finishedBefore);
  std::lock_guard lock(mutex_);
  TellDurableLines();
}

bool VehicleQueue::WaitForEarlier(std::size_t position) {
  std::unique_lock lock(mutex_);
  told_.wait(lock, [&] { return logged_ >= position || end_ < position || StopRaised(); });
  return logged_ >= position && end_ >= position;
}

void VehicleQueue::EndAt(std::size_t position, std::vector<std::string> lines) {
  std::lock_guard lock(mutex_);
  if (position >= end_) return;
  end_ = position;
  finished_[position] = Finished{++sequence_, std::move(lines)};
  if (!CommitsLater()) durable_ = sequence_;
  told_.notify_all();
  TellDurableLines();
}

void VehicleQueue::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
}

std::vector<std::size_t> VehicleQueue::Untaken() const {
  std::lock_guard lock(mutex_);
  std::vector<std::size_t> positions;
  for (std::size_t i = 0; i < setup_.vehicles; ++i) {
    if (!started_[i]) positions.push_back(i);
  }
  return positions;
}

bool VehicleQueue::Stopped() const {
  std::lock_guard lock(mutex_);
  return stopped_;
}

void VehicleQueue::End() {
  if (setup_.store != nullptr) setup_.store->Commit();
  std::lock_guard lock(mutex_);
  durable_ = sequence_;
  TellDurableLines();
  // Vehicles never started (a stop, a database gone) leave gaps; the lines
  // of those after them are told all the same.
  const std::size_t last = std::min(setup_.vehicles, end_ + 1);
  while (logged_ < last) {
    if (finished_[logged_]) {
      if (setup_.tell) setup_.tell(logged_, finished_[logged_]->lines);
      finished_[logged_].reset();
    }
    ++logged_;
  }
}

bool VehicleQueue::CommitsLater() const { return setup_.store != nullptr && setup_.store->WritesThroughRunSession(); }

void VehicleQueue::MarkDurable(std::uint64_t sequence) {
  std::lock_guard lock(mutex_);
  durable_ = std::max(durable_, sequence);
}

void VehicleQueue::TellDurableLines() {
  const std::size_t last = std::min(setup_.vehicles, end_ + 1);
  const std::size_t before = logged_;
  while (logged_ < last && finished_[logged_] && finished_[logged_]->sequence <= durable_) {
    if (setup_.tell) setup_.tell(logged_, finished_[logged_]->lines);
    finished_[logged_].reset();
    ++logged_;
  }
  if (logged_ != before) told_.notify_all();
}

WorkerSessions::WorkerSessions(ReportDatabase& runDatabase, const ConnectionSettings& connection,
                               std::size_t wanted, bool runSessionWrites, Diagnostics& diagnostics) {
  wanted = std::max<std::size_t>(wanted, 1);
  if (wanted == 1 || !runSessionWrites) sessions_.push_back(&runDatabase);
  while (sessions_.size() < wanted) {
    auto db = std::make_unique<ReportDatabase>();
    try {
      db->OpenReportSession(connection);
    } catch (...) {
      diagnostics.Info(fmt::format("worker {} has no database session of its own ({}); {} workers go on",
                                   sessions_.size() + 1, FailureText(std::current_exception()), sessions_.size()));
      break;
    }
    sessions_.push_back(db.get());
    own_.push_back(std::move(db));
  }
  if (sessions_.empty()) sessions_.push_back(&runDatabase);
}

std::size_t VehicleRunLength(std::size_t longest, std::size_t vehicles, std::size_t workers) {
  return std::clamp<std::size_t>(vehicles / (std::max<std::size_t>(workers, 1) * 4), 1, longest);
}

void ReadRunTracks(DayTrackBatch& batch, ReportDatabase& db, const std::string& dayKey,
                   const std::vector<std::string>& simIds) {
  if (simIds.size() < 2) return;
  try {
    batch.Read(db, dayKey, simIds);
  } catch (...) {
    batch.Forget();
  }
}

bool ReopenAfterLoss(ReportDatabase& db, const ConnectionSettings& connection, const std::atomic<bool>* stop,
                     Diagnostics& diagnostics, const std::string& dayKey, const std::string& simId,
                     const std::string& failure, bool& lost) {
  lost = false;
  if (db.Alive()) return false;
  diagnostics.Info(fmt::format("day {}: the database connection was lost at vehicle {} ({}); reopening it", dayKey,
                               simId, failure));
  lost = !ReopenWithPauses(db, connection, stop, [&diagnostics](const std::string& line) { diagnostics.Info(line); });
  return !lost;
}

}  // namespace cuserver
