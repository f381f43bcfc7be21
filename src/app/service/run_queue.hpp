#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace cuserver {

// How a job ended.
enum class JobOutcome { Succeeded, Failed, CouldNotRun };
const char* OutcomeText(JobOutcome outcome);

// What a job's work reports back: its outcome and one line saying why.
struct JobResult {
  JobOutcome outcome = JobOutcome::Succeeded;
  std::string detail;
};

struct JobRecord {
  long long id = 0;
  long long requestId = 0;  // the run's entry in the day ledger's requests; 0 for the service's own upkeep
  std::string label;      // what the operator sees, e.g. "计算一天 20140319"
  std::string requested;  // local time texts, "yyyy-mm-dd hh:mm:ss"
  std::string started;
  std::string ended;
  std::optional<JobResult> result;  // set when ended
};

// Runs jobs one at a time, in the order they were added, on a worker thread
// of its own. A job added while another runs waits for it; none is dropped.
// A job that throws ends as CouldNotRun with the exception's message.
class RunQueue {
 public:
  using Work = std::function<JobResult()>;

  explicit RunQueue(std::size_t keepFinished = 20);
  ~RunQueue();
  RunQueue(const RunQueue&) = delete;
  RunQueue& operator=(const RunQueue&) = delete;

  // Returns the job's id.
  long long Add(std::string label, Work work, long long requestId = 0);
  // A job to put ahead of those waiting, requested at `requested` (a local
  // time text).
  struct EarlierJob {
    std::string label;
    Work work;
    long long requestId = 0;
    std::string requested;
  };
  // Puts the jobs ahead of every waiting one, in their order: the requests a
  // previous start left open come before those made since this start.
  void AddAhead(std::vector<EarlierJob> jobs);
  // Adds the job unless one of the same label is still waiting (for
  // idempotent upkeep); returns the waiting or the new job's id.
  long long AddUnlessWaiting(std::string label, Work work);

  // What Cancel found of a request's job.
  enum class Cancelled { Removed, Running, NotQueued };
  // Takes the waiting job of a request (JobRecord::requestId) out of the
  // queue, so that it never runs; a running job is left alone.
  Cancelled Cancel(long long requestId);

  std::optional<JobRecord> Current() const;
  std::vector<JobRecord> Waiting() const;
  // The most recent finished jobs, newest first.
  std::vector<JobRecord> Finished() const;
  // Blocks until nothing runs or waits.
  void WaitIdle() const;
  // Lets the running job end, drops the waiting ones and stops the worker.
  void Stop();

 private:
  struct Job {
    JobRecord record;
    Work work;
  };
  void Loop();

  std::size_t keepFinished_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<Job> waiting_;
  std::optional<JobRecord> current_;
  std::deque<JobRecord> finished_;
  long long nextId_ = 1;
  bool stopping_ = false;
  std::thread worker_;
};

// The local time as "yyyy-mm-dd hh:mm:ss".
std::string NowText();

}  // namespace cuserver
