#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "app/service/clock.hpp"
#include "app/service/control_server.hpp"
#include "app/service/service.hpp"
#include "start_directory.hpp"

namespace cuserver {

// A clock the test sets.
class ManualClock : public Clock {
 public:
  LocalDateTime Now() const override {
    std::lock_guard lock(mutex_);
    return now_;
  }
  void Set(int y, unsigned m, unsigned d, int hour, int minute = 0) {
    std::lock_guard lock(mutex_);
    now_.day = std::chrono::year_month_day{std::chrono::year{y}, std::chrono::month{m}, std::chrono::day{d}};
    now_.hour = hour;
    now_.minute = minute;
  }

 private:
  mutable std::mutex mutex_;
  LocalDateTime now_;
};

// A service on a real start directory (SQLite file, GDAL-written map), with
// the timer off so that the test ticks by hand, and quick connect retries.
struct ServiceFixture {
  explicit ServiceFixture(int connectAttempts = 3, std::chrono::milliseconds connectPause = std::chrono::milliseconds{1}) {
    options.startDirectory = start.Path();
    options.configFile = start.ConfigFile();
    options.clock = &clock;
    options.connectAttempts = connectAttempts;
    options.connectPause = connectPause;
    options.tickPeriod = std::chrono::milliseconds{0};
  }
  Service& Started() {
    service = std::make_unique<Service>(options, log);
    service->Start();
    return *service;
  }

  StartDirectory start;
  ManualClock clock;
  ServiceLog log;
  ServiceOptions options;
  std::unique_ptr<Service> service;
};

}  // namespace cuserver
