#include "app/service/run_queue.hpp"

#include <algorithm>
#include <ctime>
#include <exception>
#include <iterator>

namespace cuserver {

const char* OutcomeText(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::Succeeded: return "succeeded";
    case JobOutcome::Failed: return "failed";
    case JobOutcome::CouldNotRun: return "could not run";
  }
  return "unknown";
}

std::string NowText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

RunQueue::RunQueue(std::size_t keepFinished) : keepFinished_(keepFinished) {
  worker_ = std::thread([this] { Loop(); });
}

RunQueue::~RunQueue() { Stop(); }

long long RunQueue::Add(std::string label, Work work, long long requestId) {
  std::lock_guard lock(mutex_);
  Job job;
  job.record.id = nextId_++;
  job.record.requestId = requestId;
  job.record.label = std::move(label);
  job.record.requested = NowText();
  job.work = std::move(work);
  const long long id = job.record.id;
  waiting_.push_back(std::move(job));
  changed_.notify_all();
  return id;
}

void RunQueue::AddAhead(std::vector<EarlierJob> jobs) {
  std::lock_guard lock(mutex_);
  std::deque<Job> ahead;
  for (EarlierJob& earlier : jobs) {
    Job job;
    job.record.id = nextId_++;
    job.record.requestId = earlier.requestId;
    job.record.label = std::move(earlier.label);
    job.record.requested = earlier.requested.empty() ? NowText() : std::move(earlier.requested);
    job.work = std::move(earlier.work);
    ahead.push_back(std::move(job));
  }
  waiting_.insert(waiting_.begin(), std::make_move_iterator(ahead.begin()), std::make_move_iterator(ahead.end()));
  changed_.notify_all();
}

long long RunQueue::AddUnlessWaiting(std::string label, Work work) {
  {
    std::lock_guard lock(mutex_);
    for (const Job& job : waiting_) {
      if (job.record.label == label) return job.record.id;
    }
  }
  return Add(std::move(label), std::move(work));
}

RunQueue::Cancelled RunQueue::Cancel(long long requestId) {
  std::lock_guard lock(mutex_);
  if (requestId == 0) return Cancelled::NotQueued;
  if (current_ && current_->requestId == requestId) return Cancelled::Running;
  const auto job = std::find_if(waiting_.begin(), waiting_.end(),
                                [requestId](const Job& waiting) { return waiting.record.requestId == requestId; });
  if (job == waiting_.end()) return Cancelled::NotQueued;
  waiting_.erase(job);
  changed_.notify_all();
  return Cancelled::Removed;
}

void RunQueue::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    if (stopping_) return;
    Job job = std::move(waiting_.front());
    waiting_.pop_front();
    job.record.started = NowText();
    current_ = job.record;
    lock.unlock();

    JobResult result;
    try {
      result = job.work();
    } catch (const std::exception& error) {
      result = JobResult{JobOutcome::CouldNotRun, error.what()};
    } catch (...) {
      result = JobResult{JobOutcome::CouldNotRun, "未知故障"};
    }

    lock.lock();
    job.record.ended = NowText();
    job.record.result = std::move(result);
    current_.reset();
    finished_.push_front(std::move(job.record));
    while (finished_.size() > keepFinished_) finished_.pop_back();
    changed_.notify_all();
  }
}

std::optional<JobRecord> RunQueue::Current() const {
  std::lock_guard lock(mutex_);
  return current_;
}

std::vector<JobRecord> RunQueue::Waiting() const {
  std::lock_guard lock(mutex_);
  std::vector<JobRecord> records;
  for (const Job& job : waiting_) records.push_back(job.record);
  return records;
}

std::vector<JobRecord> RunQueue::Finished() const {
  std::lock_guard lock(mutex_);
  return {finished_.begin(), finished_.end()};
}

void RunQueue::WaitIdle() const {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return stopping_ || (waiting_.empty() && !current_); });
}

void RunQueue::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && !worker_.joinable()) return;
    stopping_ = true;
    waiting_.clear();
    changed_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
}

}  // namespace cuserver
