#pragma once

#include <signal.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace cuserver {

// What `serve` tells the service manager that started it (systemd with
// Type=notify, through $NOTIFY_SOCKET): READY=1 once the start-up has
// connected to the database and the control page listens, STATUS= lines,
// WATCHDOG=1 at half the interval of $WATCHDOG_USEC, and STOPPING=1. Without
// $NOTIFY_SOCKET nothing is sent.
class ServiceManagerNotifier {
 public:
  ServiceManagerNotifier();
  ServiceManagerNotifier(const ServiceManagerNotifier&) = delete;
  ServiceManagerNotifier& operator=(const ServiceManagerNotifier&) = delete;

  // The start-up's database connection, from the worker thread: a refused
  // attempt (its message in `detail`) extends the start by kAttemptAllowance;
  // the first success counts toward READY=1.
  void DatabaseAttempt(bool connected, const std::string& detail);
  // The control page listens at `url`; counts toward READY=1.
  void Listening(const std::string& url);
  // Waits for one of `signals` (blocked in every thread) and returns it.
  // Meanwhile pings the watchdog and, when it changes, sends `activity()`
  // as the status once ready.
  int WaitForSignal(const sigset_t& signals, const std::function<std::string()>& activity);
  void Stopping(std::string_view why);

  // How long one database attempt of the start-up may take before systemd
  // gives up the start (a TCP connection to an unreachable host can take
  // over two minutes to be refused).
  static constexpr std::chrono::minutes kAttemptAllowance{3};

 private:
  void Send(const std::string& message);
  void ReadyWhenBoth();  // mutex_ held

  std::chrono::microseconds watchdogPeriod_{0};  // zero: no watchdog
  std::mutex mutex_;
  bool databaseConnected_ = false;
  bool listening_ = false;
  bool ready_ = false;
  std::string url_;
};

}  // namespace cuserver
