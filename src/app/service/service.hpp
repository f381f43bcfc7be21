#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/service/clock.hpp"
#include "app/service/run_queue.hpp"
#include "app/service/schedule.hpp"
#include "app/service/service_log.hpp"
#include "db/session.hpp"
#include "map/map_services.hpp"
#include "reports/catalog.hpp"
#include "run/run_log.hpp"

namespace cuserver {

class Command;

struct ServiceOptions {
  std::filesystem::path startDirectory;  // holds report.ini, the run log and HighWay/
  std::filesystem::path configFile;      // gpsserver.ini
  const Clock* clock = nullptr;          // null: the machine's clock
  int connectAttempts = 1000;
  std::chrono::milliseconds connectPause{1000};  // after every attempt
  // Zero: no timer thread; the owner calls Tick (tests drive the clock).
  std::chrono::milliseconds tickPeriod{std::chrono::minutes{5}};
};

// The unattended service: loads the map once, connects to the database with
// retries, makes sure of the start-up tables and loads the speed limits once,
// then runs the nightly schedule and the operators' commands one at a time
// on a worker thread.
class Service {
 public:
  Service(ServiceOptions options, ServiceLog& log);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Reads the settings and loads the geoset; throws SettingsError or
  // CannotRunError (naming the file and the reason) when either fails. Then
  // queues the database start-up and starts the timer; returns at once.
  void Start();
  // One timer tick of the nightly schedule.
  void Tick();
  // An operator's command by name (run-day, run-days, line-alarms,
  // import-roads) with its JSON arguments: checked now, run in turn. Throws
  // ArgumentError with the operator's message when refused. Returns the
  // job's id.
  long long Submit(std::string_view command, const nlohmann::json& arguments);
  // Lets a running job end, then stops.
  void Stop();

  nlohmann::json Status() const;
  const std::string& LayersGeoJson() const { return layersGeoJson_; }
  std::string Caption() const { return caption_.Current().text; }
  RunQueue& Queue() { return queue_; }
  ServiceLog& Log() { return log_; }

 private:
  JobResult StartUpDatabase();
  JobResult EnsureTables(const std::vector<std::string>& tables);
  JobResult RunCommandJob(Command& command);
  bool Pause(std::chrono::milliseconds duration);
  void TimerLoop();

  ServiceOptions options_;
  ServiceLog& log_;
  SystemClock systemClock_;
  const Clock& clock_;
  ServiceCaption caption_;
  ConnectionSettings connection_;
  RunLogEncoding runLogEncoding_ = RunLogEncoding::Utf8;
  std::unique_ptr<MapServices> map_;
  std::string layersGeoJson_;
  SpeedLimitTable speedLimits_;  // written and read on the worker only
  std::atomic<bool> speedLimitsLoaded_{false};
  mutable std::mutex scheduleMutex_;
  DailySchedule schedule_;
  std::mutex stopMutex_;
  std::condition_variable stopChanged_;
  bool stopping_ = false;
  std::thread timer_;
  RunQueue queue_;  // last: its worker stops before the rest goes
};

// The about text: the product's name with its version.
inline constexpr std::string_view kAboutText = "CUServer 3.0 版 —— GPS 车辆监控报表计算服务";
// The caption before the first change.
inline constexpr std::string_view kInitialCaption = "CUServer";

}  // namespace cuserver
