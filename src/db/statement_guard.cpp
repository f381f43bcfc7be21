#include "db/statement_guard.hpp"

#include <fmt/format.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "db/session.hpp"

namespace cuserver {
namespace {

// Time for the server's own statement_timeout to end the statement and its
// answer to arrive, before the connection is cut instead.
constexpr std::chrono::seconds kMargin{2};
constexpr std::chrono::milliseconds kLookEvery{200};

std::int64_t NowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// The one thread that looks at the deadlines of every watched connection. It
// starts with the first watched connection and ends with the process.
class StatementWatchdog {
 public:
  static StatementWatchdog& Instance() {
    static StatementWatchdog watchdog;
    return watchdog;
  }

  ~StatementWatchdog() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  void Add(StatementGuard* guard, int socket) {
    std::lock_guard lock(mutex_);
    guard->socket_ = socket;
    if (std::find(guards_.begin(), guards_.end(), guard) == guards_.end()) guards_.push_back(guard);
    if (!thread_.joinable()) thread_ = std::thread([this] { Look(); });
    wake_.notify_all();
  }

  void Remove(StatementGuard* guard) {
    std::lock_guard lock(mutex_);
    guard->socket_ = -1;
    std::erase(guards_, guard);
  }

 private:
  StatementWatchdog() = default;

  void Look() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (guards_.empty()) {
        wake_.wait(lock);
        continue;
      }
      wake_.wait_for(lock, kLookEvery);
      const std::int64_t now = NowNanoseconds();
      for (StatementGuard* guard : guards_) {
        std::int64_t deadline = guard->deadline_.load();
        if (deadline <= 0 || now < deadline) continue;
        // Under the mutex: the socket cannot be closed (and its number
        // reused) before its guard is removed.
        if (guard->deadline_.compare_exchange_strong(deadline, StatementGuard::kFired) && guard->socket_ >= 0) {
          ::shutdown(guard->socket_, SHUT_RDWR);
        }
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<StatementGuard*> guards_;
  std::thread thread_;
  bool stopping_ = false;
};

StatementGuard::StatementGuard() {
  // Made before any guard, the watchdog is destroyed after every guard of
  // static storage as well.
  StatementWatchdog::Instance();
}

StatementGuard::~StatementGuard() { Unwatch(); }

void StatementGuard::Watch(int socket, int limitSeconds) {
  Unwatch();
  if (socket < 0 || limitSeconds <= 0) return;
  limitSeconds_ = limitSeconds;
  StatementWatchdog::Instance().Add(this, socket);
}

void StatementGuard::Unwatch() {
  if (limitSeconds_ == 0) return;
  StatementWatchdog::Instance().Remove(this);
  limitSeconds_ = 0;
  deadline_.store(kIdle);
}

void StatementGuard::Arm() {
  if (limitSeconds_ == 0) return;
  const auto limit = std::chrono::nanoseconds(std::chrono::seconds(limitSeconds_) + kMargin).count();
  deadline_.store(NowNanoseconds() + limit, std::memory_order_relaxed);
}

void StatementGuard::Finish() {
  if (limitSeconds_ == 0 || deadline_.exchange(kIdle) != kFired) return;
  throw DatabaseError(fmt::format(
      "the statement timed out after {} s without an answer from the database server; its connection was closed",
      limitSeconds_));
}

}  // namespace cuserver
