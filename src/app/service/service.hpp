#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/delivery/delivery_settings.hpp"
#include "app/errors.hpp"
#include "app/service/clock.hpp"
#include "app/service/metrics.hpp"
#include "app/service/run_queue.hpp"
#include "app/service/schedule.hpp"
#include "app/service/service_log.hpp"
#include "db/ledger.hpp"
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
  // Told of each attempt of the start-up's database connection, on the
  // worker: a refused one with its message, then the one that connected.
  std::function<void(bool connected, const std::string& detail)> databaseAttempt;
};

// A run asked for could not be recorded in the report database, so it was
// not accepted (HTTP 503 on the control page).
class ServiceUnavailableError : public UnavailableError {
 public:
  using UnavailableError::UnavailableError;
};

// The unattended service: loads the map once, connects to the database with
// retries, makes sure of the start-up tables and loads the speed limits once,
// then runs the nightly schedule and the operators' commands one at a time
// on a worker thread. Every run asked for (page, API, schedule) is recorded
// in the day ledger before it is accepted and stays open there until it has
// ended, so a restart resumes the queue; the catch-up queues every day since
// the first start that is not computed yet, and retries failed ones.
class Service {
 public:
  Service(ServiceOptions options, ServiceLog& log);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Reads the settings and loads the geoset; throws SettingsError or
  // CannotRunError (naming the file and the reason) when either fails. Then
  // queues the database start-up (which resumes the requests a previous
  // start left open and runs the catch-up) and starts the timer; returns at
  // once.
  void Start();
  // One timer tick: the evening upkeep, then the catch-up.
  void Tick();
  // An operator's command by name (run-day, run-days, line-alarms,
  // import-roads) with its JSON arguments: checked now, recorded in the
  // ledger, run in turn. Throws ArgumentError with the operator's message
  // when refused, ServiceUnavailableError when the ledger cannot record it.
  // Returns the request's id in the ledger.
  long long Submit(std::string_view command, const nlohmann::json& arguments);
  // Asks a running day run to end its current vehicles (the day is recorded
  // incomplete and its request stays open), lets the running job end, then
  // stops. Waiting requests stay open in the ledger for the next start.
  void Stop();

  // What Cancel did with a request.
  enum class CancelAnswer { Cancelled, NotWaiting, Running };
  // Cancels a run that still waits in the queue, by its id in the ledger:
  // the ledger records it ended as cancelled (a restart does not resume it)
  // and it shows among the last runs. A running run is not cancelled. The
  // catch-up leaves the days of a cancelled run-day or run-days alone until
  // the next night's run hour (kNightRunHour), or until an operator asks for
  // one of them again; a restart forgets this. Throws
  // ServiceUnavailableError when the ledger cannot record the cancellation
  // (the run then stays queued).
  CancelAnswer Cancel(long long requestId);
  // One vehicle's day track with its report events as GeoJSON
  // (DayTrackGeoJson), read on a session of its own. Throws ArgumentError,
  // TrackNotFoundError, ConnectionRefusedError and DatabaseError.
  nlohmann::json TrackGeoJson(std::string_view dayKey, std::string_view simId) const;

  nlohmann::json Status() const;
  const std::string& LayersGeoJson() const { return layersGeoJson_; }
  std::string Caption() const { return caption_.Current().text; }
  RunQueue& Queue() { return queue_; }
  ServiceLog& Log() { return log_; }
  // What the read routes need; set by Start.
  const ConnectionSettings& Connection() const { return connection_; }
  LocalDateTime Now() const { return clock_.Now(); }
  const CatchUpSettings& CatchUpRules() const { return catchUp_; }
  // The command runs ended in this process.
  RunStats Runs() const;
  // The e-mail deliveries of [Delivery], checked after every tick and every
  // day run and sent one after another on a worker of their own.
  RunQueue& Deliveries() { return deliveryQueue_; }
  // A control page request with a wrong token: answered 429 when its address
  // was held off, else 401.
  void CountTokenFailure(bool heldOff) { (heldOff ? tokenHeldOff_ : tokenRefused_)++; }
  TokenFailureCounts TokenFailures() const { return {tokenRefused_.load(), tokenHeldOff_.load()}; }

 private:
  JobResult StartUpDatabase();
  JobResult EnsureTables(const std::vector<std::string>& tables);
  JobResult RunCommandJob(Command& command);
  // Runs the work on the ledger's own session (opened, and its tables made
  // sure of, on first use; opened anew once when a statement fails). Throws
  // DatabaseError.
  void WithLedger(const std::function<void(ReportDatabase&, Ledger&)>& work);
  // Records a checked command and queues it; requestsMutex_ held. Throws
  // DatabaseError when it cannot be recorded.
  long long QueueRequest(std::string_view name, const nlohmann::json& arguments, std::shared_ptr<Command> command,
                         const std::string& label, bool byOperator);
  JobResult RunRequest(long long id, Command& command, bool byOperator);
  // Queues the requests a previous start left open, ahead of those made
  // since; false when the ledger cannot be read.
  bool ResumeOpenRequests();
  void CatchUp();
  JobResult Counted(const Command& command, std::chrono::steady_clock::time_point begun, JobResult result);
  bool Pause(std::chrono::milliseconds duration);
  void TimerLoop();
  // Queues a look for deliveries due (DueDeliveries) on the delivery worker.
  void CheckDeliveries();
  // On the delivery worker: sends each delivery due, recording every attempt
  // in the ledger.
  JobResult DeliverDue();
  // Makes and sends one period's workbook; its record in the ledger has
  // attemptsBefore attempts. Returns whether it was sent.
  bool Deliver(const std::string& period, int attemptsBefore);
  nlohmann::json DeliveryStatus() const;

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
  mutable std::mutex runsMutex_;
  RunStats runs_;
  std::atomic<long long> tokenRefused_{0};
  std::atomic<long long> tokenHeldOff_{0};
  CatchUpSettings catchUp_;
  std::atomic<bool> stopRuns_{false};  // DayRunSetup::stop of every run
  std::mutex ledgerMutex_;
  ReportDatabase ledgerDb_;
  bool ledgerOpen_ = false;
  // Requests queued or running in this process, by ledger id (a request is
  // never queued twice).
  mutable std::mutex requestsMutex_;
  struct ActiveRequest {
    RequestRecord record;
    std::vector<std::string> days;  // the days a run-day or run-days request computes
  };
  std::map<long long, ActiveRequest> activeRequests_;
  // Days of cancelled runs the catch-up leaves alone, each with the night
  // (FirstServiceDayAt) it was cancelled in; requestsMutex_.
  std::map<std::string, std::string> cancelledDays_;
  bool resumed_ = false;                     // the open requests of the ledger are queued
  mutable std::mutex lastRunsMutex_;         // lastRuns_ alone, so that the status never waits for the ledger
  std::vector<RequestRecord> lastRuns_;      // newest first, read from the ledger at start
  std::set<std::string> announcedWaiting_;   // days the log said wait for an operator
  std::mutex catchUpMutex_;
  DeliverySettings delivery_;
  mutable std::mutex deliveryMutex_;
  bool lastDeliveryRead_ = false;                 // lastDelivery_ was read from the ledger
  std::optional<DeliveryRecord> lastDelivery_;    // the last attempt, shown on the page
  std::set<std::string> announcedGivenUp_;       // periods the log said are no longer retried
  std::thread timer_;
  RunQueue deliveryQueue_;
  RunQueue queue_;  // last: its worker stops first, then the delivery worker, before the rest goes
};

// The about text: the product's name with its version.
inline constexpr std::string_view kAboutText = "CUServer 3.0 版 —— GPS 车辆监控报表计算服务";
// The caption before the first change.
inline constexpr std::string_view kInitialCaption = "CUServer";
// What the label of a run the catch-up queued starts with; an operator's runs
// have other labels.
inline constexpr std::string_view kScheduledLabel = "定时计算 ";

}  // namespace cuserver
