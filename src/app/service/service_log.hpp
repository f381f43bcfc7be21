#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "run/caption.hpp"

namespace spdlog {
class logger;
}

namespace cuserver {

// One line shown on the control page.
struct ServiceMessage {
  long long sequence = 0;
  std::string time;  // "yyyy-mm-dd hh:mm:ss", local
  std::string level;  // "info", "warning" or "error"
  std::string text;
};

// The service's messages: each goes to the service log on stderr (with a
// timestamp, so journald keeps it) and to the control page, which shows the
// most recent ones. Nothing waits on an operator. Safe from any thread.
class ServiceLog {
 public:
  explicit ServiceLog(std::size_t keep = 200);

  void Info(const std::string& text);
  void Warning(const std::string& text);
  void Error(const std::string& text);
  // Goes to stderr only (frequent lines nobody needs on the page).
  void Debug(const std::string& text);

  // What reaches stderr: debug lines too (--verbose), or only warnings and
  // errors (--quiet). The page keeps every message either way.
  void ShowOnStderr(bool debug, bool warningsOnly);

  std::vector<ServiceMessage> Recent() const;

 private:
  void Add(const char* level, const std::string& text);

  std::shared_ptr<spdlog::logger> logger_;
  std::size_t keep_;
  mutable std::mutex mutex_;
  std::deque<ServiceMessage> messages_;
  long long sequence_ = 0;
};

// The caption, live on the control page. Captions outside a run's vehicle
// loop (connecting, the end caption) also go to the service log.
class ServiceCaption : public Caption {
 public:
  explicit ServiceCaption(ServiceLog& log, std::string initial);

  void Show(const std::string& text) override;
  void Progress(int done, int total) override;
  void DayOfRange(int day, int days) override;

  struct State {
    std::string text;
    int done = -1;
    int total = -1;
    int day = 0;   // of a range run, 1-based; 0 outside one
    int days = 0;
  };
  State Current() const;

 private:
  ServiceLog& log_;
  mutable std::mutex mutex_;
  State state_;
};

}  // namespace cuserver
