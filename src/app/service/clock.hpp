#pragma once

#include <chrono>

namespace cuserver {

// A local date and time, as the machine's clock shows it.
struct LocalDateTime {
  std::chrono::year_month_day day;
  int hour = 0;    // 0 to 23
  int minute = 0;  // 0 to 59
};

// Where the service reads the local date and time; tests supply their own.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime Now() const = 0;
};

// The machine's local time zone.
class SystemClock : public Clock {
 public:
  LocalDateTime Now() const override;
};

}  // namespace cuserver
