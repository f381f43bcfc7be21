#include "app/service/service_manager.hpp"

#include <fmt/format.h>
#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cerrno>

namespace cuserver {
namespace {

using namespace std::chrono_literals;

// A STATUS= value is one line.
std::string OneLine(std::string_view text) {
  std::string line(text);
  std::replace(line.begin(), line.end(), '\n', ' ');
  return line;
}

}  // namespace

ServiceManagerNotifier::ServiceManagerNotifier() {
  uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) watchdogPeriod_ = std::chrono::microseconds(usec / 2);
}

void ServiceManagerNotifier::Send(const std::string& message) { sd_notify(0, message.c_str()); }

void ServiceManagerNotifier::DatabaseAttempt(bool connected, const std::string& detail) {
  std::lock_guard lock(mutex_);
  if (connected) {
    databaseConnected_ = true;
    ReadyWhenBoth();
    return;
  }
  if (ready_) return;
  const auto allowance = std::chrono::duration_cast<std::chrono::microseconds>(kAttemptAllowance);
  Send(fmt::format("EXTEND_TIMEOUT_USEC={}\nSTATUS=connecting to the database: {}", allowance.count(),
                   OneLine(detail)));
}

void ServiceManagerNotifier::Listening(const std::string& url) {
  std::lock_guard lock(mutex_);
  listening_ = true;
  url_ = url;
  if (!databaseConnected_) Send(fmt::format("STATUS=control page {}; connecting to the database", url));
  ReadyWhenBoth();
}

void ServiceManagerNotifier::ReadyWhenBoth() {
  if (ready_ || !databaseConnected_ || !listening_) return;
  ready_ = true;
  Send(fmt::format("READY=1\nSTATUS=control page {}; database connected", url_));
}

int ServiceManagerNotifier::WaitForSignal(const sigset_t& signals, const std::function<std::string()>& activity) {
  const std::chrono::microseconds period =
      watchdogPeriod_.count() > 0 ? std::min<std::chrono::microseconds>(watchdogPeriod_, 5s) : 5s;
  std::string shown;
  for (;;) {
    if (watchdogPeriod_.count() > 0) Send("WATCHDOG=1");
    bool ready = false;
    {
      std::lock_guard lock(mutex_);
      ready = ready_;
    }
    if (ready) {
      const std::string now = OneLine(activity());
      if (now != shown) {
        Send(fmt::format("STATUS={}", now));
        shown = now;
      }
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(period);
    const timespec timeout{static_cast<time_t>(seconds.count()),
                           static_cast<long>(std::chrono::nanoseconds(period - seconds).count())};
    const int received = sigtimedwait(&signals, nullptr, &timeout);
    if (received > 0) return received;
    // EAGAIN: the period has passed; EINTR: another signal came.
  }
}

void ServiceManagerNotifier::Stopping(std::string_view why) {
  Send(fmt::format("STOPPING=1\nSTATUS={}", OneLine(why)));
}

}  // namespace cuserver
