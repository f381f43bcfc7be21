#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/session.hpp"
#include "reports/diagnostics.hpp"

namespace cuserver {

class RunStore;
class DayTrackBatch;

// How a run's vehicles are dealt to its workers and told in list order.
struct VehicleQueueSetup {
  std::size_t vehicles = 0;
  std::size_t runLength = 1;                // consecutive vehicles a worker takes at once
  const std::atomic<bool>* stop = nullptr;  // true: start no further vehicle
  // With a store that commits after its writes returned, a finished
  // vehicle's lines wait until its rows are committed.
  RunStore* store = nullptr;
  // Called in list order, each vehicle once every vehicle before it started.
  std::function<void(std::size_t position)> started;
  // Called in list order with the lines a finished vehicle left.
  std::function<void(std::size_t position, const std::vector<std::string>& lines)> tell;
};

// Hands out runs of consecutive vehicles in list order and tells what each
// vehicle left in list order, so that a run on several workers reads as one
// on a single worker. Safe to use from several threads.
class VehicleQueue {
 public:
  explicit VehicleQueue(VehicleQueueSetup setup);

  // The next run of consecutive vehicles [first, last) for one worker to read
  // together; nullopt when all are handed out, the stop flag is raised, the
  // database went away or the list was ended.
  std::optional<std::pair<std::size_t, std::size_t>> TakeRun();

  // The vehicle at `position` (of a run taken) is started; false when it may
  // not be: the stop flag is raised, the database went away or the list was
  // ended.
  bool Start(std::size_t position);

  // The vehicle's rows have all been executed; its lines are told after
  // those of every vehicle before it.
  void Finish(std::size_t position, std::vector<std::string> lines);

  // Waits until every vehicle before `position` was finished and told. False
  // when that cannot come: the list ended before it, or the run stopped.
  bool WaitForEarlier(std::size_t position);

  // The list ends at `position`: its lines are told after those before it,
  // and nothing after it is handed out, told or waited for. The earliest end
  // of several holds.
  void EndAt(std::size_t position, std::vector<std::string> lines);

  // No further vehicle is handed out: the database went away.
  void Close();
  // The vehicles never started, in list order.
  std::vector<std::size_t> Untaken() const;
  bool Stopped() const;

  // Every row is committed: the remaining lines are told.
  void End();

 private:
  struct Finished {
    std::uint64_t sequence = 0;  // order of finishing, from 1
    std::vector<std::string> lines;
  };

  bool StopRaised();  // with mutex_ held
  bool CommitsLater() const;
  void MarkDurable(std::uint64_t sequence);
  void TellDurableLines();  // with mutex_ held

  VehicleQueueSetup setup_;
  mutable std::mutex mutex_;
  std::condition_variable told_;
  std::size_t next_ = 0;
  bool closed_ = false;
  bool stopped_ = false;
  std::size_t end_;  // no vehicle after this position is told
  std::vector<char> started_;
  std::size_t shown_ = 0;  // started() called for the vehicles before this position
  std::size_t logged_ = 0;
  std::uint64_t sequence_ = 0;
  std::uint64_t durable_ = 0;
  std::vector<std::optional<Finished>> finished_;
};

// The sessions of a run's workers: the run's own for the first, unless the
// run's session writes for all of them (RunStore::WritesThroughRunSession)
// and more than one reads; the others open sessions of their own. A session the
// database refuses is told on the diagnostics and the run goes on with the
// workers it has, at least one.
class WorkerSessions {
 public:
  WorkerSessions(ReportDatabase& runDatabase, const ConnectionSettings& connection, std::size_t wanted,
                 bool runSessionWrites, Diagnostics& diagnostics);
  const std::vector<ReportDatabase*>& Sessions() const { return sessions_; }

 private:
  std::vector<std::unique_ptr<ReportDatabase>> own_;
  std::vector<ReportDatabase*> sessions_;
};

// The length of the runs dealt to `workers` workers: short enough that the
// workers share the day evenly and a run's tracks stay small, long enough
// that a query reads many vehicles, at most `longest` (RunStore::LongestRun).
std::size_t VehicleRunLength(std::size_t longest, std::size_t vehicles, std::size_t workers);

// Reads the day tracks of a run's vehicles with one query. When the query
// fails the batch holds nothing, and each vehicle is then loaded by itself,
// failing or not as it would.
void ReadRunTracks(DayTrackBatch& batch, ReportDatabase& db, const std::string& dayKey,
                   const std::vector<std::string>& simIds);

// When the session no longer answers after `failure`: tells that the
// connection was lost at the vehicle and reopens the session with growing
// pauses. True when the vehicle should be tried again; false when the
// session answers (the failure was the vehicle's own) or the database stayed
// away (ReopenWithPauses gave up), told apart by `lost`.
bool ReopenAfterLoss(ReportDatabase& db, const ConnectionSettings& connection, const std::atomic<bool>* stop,
                     Diagnostics& diagnostics, const std::string& dayKey, const std::string& simId,
                     const std::string& failure, bool& lost);

}  // namespace cuserver
