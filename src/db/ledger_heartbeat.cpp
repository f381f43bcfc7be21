#include "db/ledger.hpp"

namespace cuserver {

ClaimHeartbeat::ClaimHeartbeat(ConnectionSettings connection, DayClaim claim, std::chrono::seconds interval)
    : connection_(std::move(connection)), claim_(std::move(claim)), interval_(interval),
      thread_([this] { Beat(); }) {}

ClaimHeartbeat::~ClaimHeartbeat() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void ClaimHeartbeat::Beat() {
  std::optional<ReportDatabase> db;
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, interval_, [this] { return stop_; })) {
    lock.unlock();
    try {
      if (!db) {
        db.emplace();
        db->OpenReportSession(connection_);
      }
      Ledger(*db).RefreshClaim(claim_);
    } catch (const std::exception&) {
      db.reset();  // a new session at the next beat
    }
    lock.lock();
  }
}

}  // namespace cuserver
