#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

namespace cuserver {

// Ends a statement on a server connection that has made no progress for too
// long. A server process that is stopped (SIGSTOP) or cut off behind a
// network black hole never answers, while its kernel may still acknowledge
// every packet: neither the server's statement_timeout nor TCP keepalives end
// such a wait. One watchdog thread per process looks at every watched
// connection a few times a second and shuts down the socket of one whose
// deadline has passed (shutdown(2), SHUT_RDWR), so the blocked driver call
// returns with an error. The socket stays open until its driver closes it.
//
// Each statement costs a clock reading and two atomic operations. A guard
// belongs to one session and is armed from that session's thread only.
class StatementGuard {
 public:
  StatementGuard();
  // Stops watching.
  ~StatementGuard();
  StatementGuard(const StatementGuard&) = delete;
  StatementGuard& operator=(const StatementGuard&) = delete;

  // Watches the connection's socket from now on: a statement run through
  // Run that has not returned after limitSeconds plus a margin (for the
  // server's own timeout to answer first) has its socket shut down.
  // limitSeconds 0 watches nothing. Call Unwatch before the socket is closed.
  void Watch(int socket, int limitSeconds);
  void Unwatch();
  // The statement limit, seconds; 0 when nothing is watched.
  int LimitSeconds() const { return limitSeconds_; }

  // Runs a driver call (one statement, one fetch) under the guard. Throws
  // DatabaseError "the statement timed out after N s ..." when the guard
  // ended it, also when the call itself returned or threw something else.
  template <class Call>
  auto Run(Call&& call) -> decltype(call()) {
    Arm();
    try {
      if constexpr (std::is_void_v<decltype(call())>) {
        call();
        Finish();
      } else {
        auto result = call();
        Finish();
        return result;
      }
    } catch (...) {
      Finish();
      throw;
    }
  }

 private:
  friend class StatementWatchdog;
  static constexpr std::int64_t kIdle = 0;
  static constexpr std::int64_t kFired = -1;

  void Arm();
  // Disarms; throws the timeout error when the watchdog fired meanwhile.
  void Finish();

  int socket_ = -1;         // written and read under the watchdog's mutex
  int limitSeconds_ = 0;    // the session's thread only
  std::atomic<std::int64_t> deadline_{kIdle};  // steady clock, nanoseconds; kIdle, kFired
};

}  // namespace cuserver
