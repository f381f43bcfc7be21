#include "app/service/service.hpp"

#include <fmt/format.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <sstream>

#include "app/command.hpp"
#include "app/command_run_days.hpp"
#include "app/commands.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/service/instance_lock.hpp"
#include "app/service/layers_geojson.hpp"
#include "app/service/run_log_tail.hpp"
#include "app/service/track_geojson.hpp"
#include "app/version.hpp"
#include "db/loaders.hpp"
#include "db/report_tables.hpp"
#include "reports/diagnostics.hpp"
#include "reports/settings.hpp"
#include "run/day_key.hpp"
#include "run/day_states.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

constexpr std::string_view kNoDatabaseMessage = "请检查数据库是否已经正常启动!";
constexpr std::string_view kScheduledLabel = "定时计算 ";
constexpr int kLastRuns = 20;
constexpr std::string_view kCancelledDetail = "开始前已取消";

// A name of no monthly table is made as a ParkingLog, as it always was.
ReportTableKind KindOf(const std::string& table) {
  return MonthlyTableKind(table).value_or(ReportTableKind::ParkingLog);
}

std::string JobLabel(std::string_view command, const nlohmann::json& arguments) {
  auto text = [&arguments](const char* key) {
    if (!arguments.is_object() || !arguments.contains(key)) return std::string();
    const auto& value = arguments[key];
    return value.is_string() ? value.get<std::string>() : value.dump();
  };
  if (command == "run-day") return "计算一天 " + text("day");
  if (command == "run-days") return fmt::format("计算连续几天 {} 到 {}", text("from"), text("to"));
  if (command == "import-roads") return "添加道路信息";
  if (command == "line-alarms") return "路段报警 " + text("days");
  return std::string(command);
}

std::string ArgumentText(const nlohmann::json& arguments, const char* key) {
  if (!arguments.is_object() || !arguments.contains(key) || !arguments[key].is_string()) return {};
  return arguments[key].get<std::string>();
}

// The days a run-day or run-days request computes.
std::vector<std::string> DaysOf(std::string_view command, const nlohmann::json& arguments) {
  if (command == "run-day") return {ArgumentText(arguments, "day")};
  std::chrono::year_month_day from;
  std::chrono::year_month_day to;
  if (command == "run-days" && ParseDayKey(ArgumentText(arguments, "from"), from) &&
      ParseDayKey(ArgumentText(arguments, "to"), to)) {
    return DayKeysBetween(from, to);
  }
  return {};
}

// A day the ledger shows running on this machine by a process that is gone
// (or by this one, which is not running it), or on any machine without a
// heartbeat for staleAfter, was cut off by a crash: it is treated as failed
// when its run started.
bool CutOffByCrash(DayStatus& status, std::chrono::seconds staleAfter) {
  const std::string host = HostName();
  bool any = false;
  for (const DayRecord& shard : status.shards) {
    if (shard.outcome != DayOutcome::Running) continue;
    if (!ClaimAbandoned(shard, host, static_cast<long>(getpid()), staleAfter)) return false;
    any = true;
    status.attempts = std::max(status.attempts, shard.attempts);
    status.lastEnded = std::max(status.lastEnded, shard.started);
  }
  if (any) status.state = DayState::Failed;
  return any;
}

// The outcome as the operator reads it, beside the outcome key.
std::string OutcomeChinese(std::string_view outcome) {
  if (outcome == OutcomeText(JobOutcome::Succeeded)) return "成功";
  if (outcome == OutcomeText(JobOutcome::Failed)) return "失败";
  if (outcome == OutcomeText(JobOutcome::CouldNotRun)) return "未能计算";
  if (outcome == kRequestCancelled) return "已取消";
  return std::string(outcome);
}

// What a run could not do, counted.
std::string FailuresText(const Diagnostics& diagnostics) {
  std::string text = fmt::format("{} 行被拒绝，{} 个报表计算失败，跳过 {} 辆车", diagnostics.RefusedRows(),
                                 diagnostics.FailedReports(), diagnostics.SkippedVehicles());
  if (diagnostics.Failures() > 0) text += fmt::format("，另有 {} 个其他故障", diagnostics.Failures());
  return text;
}

nlohmann::json RequestJson(const RequestRecord& request) {
  return {{"id", request.id},           {"label", request.label},     {"requested", request.requested},
          {"started", request.started}, {"ended", request.ended},     {"outcome", request.outcome},
          {"outcomeText", OutcomeChinese(request.outcome)},           {"detail", request.detail}};
}

nlohmann::json RecordJson(const JobRecord& record) {
  // Jobs carry their request's id; the service's own upkeep has none.
  nlohmann::json json = {{"id", record.requestId != 0 ? nlohmann::json(record.requestId) : nlohmann::json(nullptr)},
                         {"label", record.label},
                         {"requested", record.requested},
                         {"started", record.started},
                         {"ended", record.ended}};
  if (record.result) {
    json["outcome"] = OutcomeText(record.result->outcome);
    json["outcomeText"] = OutcomeChinese(OutcomeText(record.result->outcome));
    json["detail"] = record.result->detail;
  }
  return json;
}

}  // namespace

Service::Service(ServiceOptions options, ServiceLog& log)
    : options_(std::move(options)),
      log_(log),
      clock_(options_.clock != nullptr ? *options_.clock : systemClock_),
      caption_(log, std::string(kInitialCaption)) {}

Service::~Service() { Stop(); }

void Service::Start() {
  auto settings = IniFile::Load(options_.configFile);
  if (!settings) {
    throw SettingsError(
        fmt::format("settings file {} is missing or cannot be read", options_.configFile.string()));
  }
  connection_ = ReadConnectionSettings(options_.configFile, options_.startDirectory);
  runLogEncoding_ = ReadRunLogEncoding(*settings);
  catchUp_ = ReadCatchUpSettings(*settings);

  const MapSettings mapSettings = ReadMapSettings(*settings, options_.startDirectory);
  log_.Info(fmt::format("开始装载地图.({})", mapSettings.geoset.string()));
  try {
    auto map = CreateMapServices(mapSettings.toleranceMetres, [this](const std::string& line) { log_.Warning(line); });
    map->LoadGeoset(mapSettings.geoset);
    layersGeoJson_ = GeosetLayersGeoJson(mapSettings.geoset);
    map_ = std::move(map);
  } catch (const std::exception& error) {
    throw CannotRunError(fmt::format("CUServerDlg::OnInitDialog() ERROR description:{}", error.what()));
  }

  queue_.Add("启动：连接数据库", [this] { return StartUpDatabase(); });
  if (options_.tickPeriod.count() > 0) timer_ = std::thread([this] { TimerLoop(); });
}

bool Service::Pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(stopMutex_);
  return !stopChanged_.wait_for(lock, duration, [this] { return stopping_; });
}

JobResult Service::StartUpDatabase() {
  ReportDatabase db;
  bool connected = false;
  for (int attempt = 1; attempt <= options_.connectAttempts && !connected; ++attempt) {
    try {
      OpenRunSession(db, connection_, caption_);
      connected = true;
      if (options_.databaseAttempt) options_.databaseAttempt(true, "connected");
    } catch (const ConnectionRefusedError& error) {
      const std::string detail = fmt::format("{} (attempt {} of {})", error.what(), attempt, options_.connectAttempts);
      log_.Error(detail);
      if (options_.databaseAttempt) options_.databaseAttempt(false, detail);
    } catch (const SettingsError& error) {
      // An ODBC source of a DBMS whose SQL is unknown: no attempt would do.
      log_.Error(error.what());
      if (options_.databaseAttempt) options_.databaseAttempt(false, error.what());
      return {JobOutcome::CouldNotRun, error.what()};
    }
    if (!Pause(options_.connectPause)) return {JobOutcome::CouldNotRun, "the service is stopping"};
  }
  if (!connected) {
    log_.Error(std::string(kNoDatabaseMessage));
    return {JobOutcome::CouldNotRun, std::string(kNoDatabaseMessage)};
  }
  for (const char* table :
       {"AlarmSMS201401", "DownloadSMS201401", "SpeedAlarm201401", "VehicleDistance201401", "Parkinglog201401"}) {
    EnsureReportTable(db, KindOf(table), table);
  }
  // Queued now, they run once the start-up has ended.
  CatchUp();
  try {
    speedLimits_ = LoadSpeedLimits(db);
    speedLimitsLoaded_ = true;
  } catch (const DatabaseError& error) {
    // Each run then loads the limits itself rather than judging every vehicle
    // by report.ini's limits for the service's whole life.
    log_.Error("speed limits not loaded, each run loads them: " + DatabaseErrorText(error));
    return {JobOutcome::Failed, "限速未装载：" + DatabaseErrorText(error)};
  }
  return {JobOutcome::Succeeded, fmt::format("已连接数据库，已装载 {} 辆车的限速", speedLimits_.size())};
}

JobResult Service::EnsureTables(const std::vector<std::string>& tables) {
  ReportDatabase db;
  try {
    OpenRunSession(db, connection_, caption_);
  } catch (const std::exception& error) {  // refused, or settings it cannot serve
    log_.Error(error.what());
    return {JobOutcome::CouldNotRun, error.what()};
  }
  for (const std::string& table : tables) EnsureReportTable(db, KindOf(table), table);
  return {JobOutcome::Succeeded, fmt::format("已确认 {} 个报表存在", tables.size())};
}

JobResult Service::RunCommandJob(Command& command) {
  const auto begun = std::chrono::steady_clock::now();
  std::ostringstream out;
  Diagnostics diagnostics([this](const std::string& line) { log_.Warning(line); });
  CommandEnvironment env(options_.startDirectory, options_.configFile, out, caption_, diagnostics);
  env.UseMap(*map_);
  if (speedLimitsLoaded_) env.UseSpeedLimits(speedLimits_);
  env.UseStopFlag(stopRuns_);
  caption_.Progress(-1, -1);
  caption_.DayOfRange(0, 0);
  auto fail = [this, &command, begun](JobOutcome outcome, const std::string& message) {
    log_.Error(message);
    return Counted(command, begun, JobResult{outcome, message});
  };
  try {
    RunCommand(command, env);
  } catch (const ConnectionRefusedError& error) {
    return fail(JobOutcome::CouldNotRun, error.what());
  } catch (const DatabaseError& error) {
    return fail(JobOutcome::Failed, "数据库出错：" + DatabaseErrorText(error));
  } catch (const std::exception& error) {
    return fail(JobOutcome::CouldNotRun, std::string("无法计算：") + error.what());
  }
  std::string line;
  std::istringstream lines(out.str());
  std::string last;
  while (std::getline(lines, line)) {
    log_.Info(line);
    last = line;
  }
  if (diagnostics.AnyFailure()) {
    // Whatever was not written ends the run with an error line naming the job.
    const auto job = queue_.Current();
    log_.Error(fmt::format("{}: {}", job ? job->label : command.Name(), diagnostics.Summary()));
    return Counted(command, begun, {JobOutcome::Failed, FailuresText(diagnostics)});
  }
  // The page shows the run's end caption, in the operator's language; the
  // command's own summary lines stay in the service log.
  const std::string endCaption = caption_.Current().text;
  return Counted(command, begun, {JobOutcome::Succeeded, endCaption.empty() ? last : endCaption});
}

JobResult Service::Counted(const Command& command, std::chrono::steady_clock::time_point begun, JobResult result) {
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - begun;
  // The last day the run computed tells the catalogue listings it left out
  // (a day not computed read no catalogue and tells none).
  nlohmann::json summary = nlohmann::json::object();
  command.AddToSummary(summary);
  std::optional<ListingsLeftOut> leftOut;
  if (summary.contains("days") && summary["days"].is_array()) {
    for (const nlohmann::json& day : summary["days"]) {
      if (!day.contains("catalogue")) continue;
      leftOut = ListingsLeftOut{day["catalogue"].value("listedAgain", 0LL), day["catalogue"].value("withoutSimId", 0LL)};
    }
  }
  std::lock_guard lock(runsMutex_);
  ++runs_.byOutcome[OutcomeText(result.outcome)];
  runs_.lastDurationSeconds[command.Name()] = seconds.count();
  if (leftOut) runs_.listingsLeftOut = leftOut;
  return result;
}

RunStats Service::Runs() const {
  std::lock_guard lock(runsMutex_);
  return runs_;
}

void Service::Tick() {
  TickActions actions;
  {
    std::lock_guard lock(scheduleMutex_);
    actions = schedule_.Tick(clock_.Now());
  }
  if (!actions.tables.empty()) {
    const std::string month = actions.tables.front().substr(MonthlyTables().front().prefix.size());
    queue_.AddUnlessWaiting("建立本月报表 " + month,
                            [this, tables = actions.tables] { return EnsureTables(tables); });
  }
  CatchUp();
}

void Service::WithLedger(const std::function<void(ReportDatabase&, Ledger&)>& work) {
  std::lock_guard lock(ledgerMutex_);
  for (int attempt = 1;; ++attempt) {
    try {
      Ledger ledger(ledgerDb_);
      if (!ledgerOpen_) {
        ledgerDb_.OpenReportSession(connection_);
        ledgerOpen_ = true;
        ledger.EnsureTables();
      }
      work(ledgerDb_, ledger);
      return;
    } catch (const DatabaseError&) {
      ledgerOpen_ = false;  // a lost connection is opened anew
      if (attempt == 2) throw;
    }
  }
}

long long Service::QueueRequest(std::string_view name, const nlohmann::json& arguments,
                                std::shared_ptr<Command> command, const std::string& label, bool byOperator) {
  RequestRecord record;
  record.command = std::string(name);
  record.arguments = arguments.dump();
  record.label = label;
  record.requested = NowText();
  WithLedger([&record](ReportDatabase&, Ledger& ledger) {
    record.id = ledger.AddRequest(record.command, record.arguments, record.label, record.requested);
  });
  const long long id = record.id;
  activeRequests_[id] = ActiveRequest{std::move(record), DaysOf(name, arguments)};
  queue_.Add(label, [this, id, command, byOperator] { return RunRequest(id, *command, byOperator); }, id);
  return id;
}

JobResult Service::RunRequest(long long id, Command& command, bool byOperator) {
  if (stopRuns_) return {JobOutcome::CouldNotRun, "服务正在停止，这次计算保留到下次启动时再算"};
  RequestRecord record;
  std::vector<std::string> days;
  {
    std::lock_guard lock(requestsMutex_);
    const auto found = activeRequests_.find(id);
    // Cancelled while the worker was taking it out of the queue.
    if (found == activeRequests_.end()) return {JobOutcome::CouldNotRun, std::string(kCancelledDetail)};
    ActiveRequest& active = found->second;
    active.record.started = NowText();
    record = active.record;
    days = active.days;
  }
  try {
    WithLedger([&](ReportDatabase&, Ledger& ledger) {
      ledger.RequestStarted(id, record.started);
      // An operator's run starts a day's count of attempts anew.
      if (byOperator) {
        for (const std::string& day : days) ledger.ResetAttempts(kDayRunCommand, day);
      }
    });
  } catch (const DatabaseError& error) {
    log_.Error(fmt::format("{}: start not recorded in the ledger: {}", record.label, DatabaseErrorText(error)));
  }

  JobResult result = RunCommandJob(command);

  if (stopRuns_) {
    // Re-runs are idempotent: the next start runs the request again whole.
    log_.Info(fmt::format("{}: stopped; it runs again at the next start", record.label));
    return result;
  }
  record.ended = NowText();
  record.outcome = OutcomeText(result.outcome);
  record.detail = result.detail;
  try {
    WithLedger([&record](ReportDatabase&, Ledger& ledger) {
      ledger.RequestEnded(record.id, record.ended, record.outcome, record.detail);
    });
  } catch (const DatabaseError& error) {
    log_.Error(fmt::format("{}: end not recorded in the ledger, it runs again at the next start: {}", record.label,
                           DatabaseErrorText(error)));
  }
  std::lock_guard lock(requestsMutex_);
  activeRequests_.erase(id);
  std::lock_guard runsLock(lastRunsMutex_);
  lastRuns_.insert(lastRuns_.begin(), std::move(record));
  if (lastRuns_.size() > static_cast<size_t>(kLastRuns)) lastRuns_.resize(kLastRuns);
  return result;
}

bool Service::ResumeOpenRequests() {
  std::lock_guard lock(requestsMutex_);
  std::vector<RequestRecord> open;
  try {
    WithLedger([&](ReportDatabase&, Ledger& ledger) {
      open = ledger.OpenRequests();
      std::vector<RequestRecord> recent = ledger.RecentRequests(kLastRuns);
      std::lock_guard runsLock(lastRunsMutex_);
      lastRuns_ = std::move(recent);
    });
  } catch (const DatabaseError& error) {
    log_.Error("the day ledger cannot be read yet (runs asked for before this start, catch-up): " +
               DatabaseErrorText(error));
    return false;
  }
  resumed_ = true;
  std::vector<RunQueue::EarlierJob> jobs;
  for (RequestRecord& request : open) {
    if (activeRequests_.contains(request.id)) continue;  // asked for since this start
    std::shared_ptr<Command> command = ComputesReports(request.command) ? MakeCommand(request.command) : nullptr;
    const nlohmann::json arguments = nlohmann::json::parse(request.arguments, nullptr, false);
    std::string refusal = command ? "" : "unknown command " + request.command;
    if (command) {
      try {
        command->FromJson(arguments);
        command->Setup();
      } catch (const std::exception& error) {
        refusal = error.what();
      }
    }
    if (!refusal.empty()) {
      log_.Error(fmt::format("{}: asked for before this start, not run again: {}", request.label, refusal));
      try {
        WithLedger([&](ReportDatabase&, Ledger& ledger) {
          ledger.RequestEnded(request.id, NowText(), OutcomeText(JobOutcome::CouldNotRun), refusal);
        });
      } catch (const DatabaseError&) {
      }
      continue;
    }
    const long long id = request.id;
    const bool byOperator = !request.label.starts_with(kScheduledLabel);
    jobs.push_back({request.label, [this, id, command, byOperator] { return RunRequest(id, *command, byOperator); },
                    id, request.requested});
    request.started.clear();
    activeRequests_[id] = ActiveRequest{std::move(request), DaysOf(command->Name(), arguments)};
  }
  if (!jobs.empty()) log_.Info(fmt::format("{} runs asked for before this start are queued again", jobs.size()));
  queue_.AddAhead(std::move(jobs));
  return true;
}

void Service::CatchUp() {
  std::lock_guard catchUpLock(catchUpMutex_);
  if (stopRuns_) return;
  bool resumed = false;
  {
    std::lock_guard lock(requestsMutex_);
    resumed = resumed_;
  }
  if (!resumed && !ResumeOpenRequests()) return;

  const LocalDateTime now = clock_.Now();
  if (!now.day.ok()) return;
  std::string firstServiceDay;
  std::vector<DayStatus> statuses;
  try {
    WithLedger([&](ReportDatabase& db, Ledger& ledger) {
      ledger.RecordFirstServiceDay(FirstServiceDayAt(now));
      firstServiceDay = ledger.FirstServiceDay().value_or(FirstServiceDayAt(now));
      if (const auto window = CatchUpWindow(now, firstServiceDay, catchUp_)) {
        statuses = DayStatuses(db, ledger, window->from, window->to, catchUp_.retryLimit);
      }
    });
  } catch (const DatabaseError& error) {
    log_.Error("catch-up: the day ledger cannot be read: " + DatabaseErrorText(error));
    return;
  }

  std::lock_guard lock(requestsMutex_);
  std::set<std::string> queued;
  for (const auto& [id, active] : activeRequests_) queued.insert(active.days.begin(), active.days.end());
  const std::chrono::seconds staleAfter = ClaimTimingFor(connection_).staleAfter;
  for (DayStatus& status : statuses) {
    if (status.state == DayState::Running && !queued.contains(status.day)) CutOffByCrash(status, staleAfter);
  }
  const std::string night = FirstServiceDayAt(now);
  std::erase_if(cancelledDays_, [&night](const auto& cancelled) { return cancelled.second != night; });
  std::set<std::string> leftAlone = queued;
  for (const auto& [day, cancelledIn] : cancelledDays_) leftAlone.insert(day);
  const CatchUpPlan plan = DueDays(now, firstServiceDay, statuses, catchUp_, leftAlone);
  for (const std::string& day : plan.waitingForOperator) {
    if (announcedWaiting_.contains(day)) continue;
    log_.Error(fmt::format("day {} is not complete after {} attempts and waits for an operator: run it from the "
                           "control page or with `cuserver run-day {}`",
                           day, catchUp_.retryLimit, day));
  }
  announcedWaiting_ = {plan.waitingForOperator.begin(), plan.waitingForOperator.end()};
  for (const std::string& day : plan.due) {
    const nlohmann::json arguments{{"day", day}};
    std::shared_ptr<Command> command = MakeCommand("run-day");
    command->FromJson(arguments);
    command->Setup();
    try {
      QueueRequest("run-day", arguments, command, std::string(kScheduledLabel) + day, false);
    } catch (const DatabaseError& error) {
      log_.Error(fmt::format("{}{} not queued, the ledger cannot record it: {}", kScheduledLabel, day,
                             DatabaseErrorText(error)));
      return;
    }
    log_.Info(std::string(kScheduledLabel) + day);
  }
}

long long Service::Submit(std::string_view name, const nlohmann::json& arguments) {
  std::unique_ptr<Command> command = ComputesReports(name) ? MakeCommand(name) : nullptr;
  if (!command) throw ArgumentError(fmt::format("unknown command {}", name));
  try {
    command->FromJson(arguments);
    command->Setup();
  } catch (const ArgumentError& error) {
    log_.Warning(error.what());
    throw;
  }
  std::shared_ptr<Command> shared(std::move(command));
  const std::string label = JobLabel(name, arguments);
  long long id = 0;
  try {
    std::lock_guard lock(requestsMutex_);
    id = QueueRequest(name, arguments, std::move(shared), label, true);
    for (const std::string& day : DaysOf(name, arguments)) cancelledDays_.erase(day);
  } catch (const DatabaseError& error) {
    const std::string message = fmt::format(
        "计算请求未被接受：报表数据库无法记录它（{}）；请在数据库恢复后重新请求", DatabaseErrorText(error));
    log_.Error(label + ": " + message);
    throw ServiceUnavailableError(message);
  }
  log_.Info("请求：" + label);
  return id;
}

Service::CancelAnswer Service::Cancel(long long requestId) {
  std::lock_guard lock(requestsMutex_);
  const auto found = activeRequests_.find(requestId);
  if (found == activeRequests_.end()) return CancelAnswer::NotWaiting;
  const auto current = queue_.Current();
  if (!found->second.record.started.empty() || (current && current->requestId == requestId)) {
    return CancelAnswer::Running;
  }
  RequestRecord record = found->second.record;
  record.ended = NowText();
  record.outcome = std::string(kRequestCancelled);
  record.detail = std::string(kCancelledDetail);
  try {
    WithLedger([&record](ReportDatabase&, Ledger& ledger) {
      ledger.RequestCancelled(record.id, record.ended, record.detail);
    });
  } catch (const DatabaseError& error) {
    const std::string message =
        fmt::format("计算未被取消：报表数据库无法记录取消（{}）；它仍在队列中", DatabaseErrorText(error));
    log_.Error(record.label + ": " + message);
    throw ServiceUnavailableError(message);
  }
  // A job the worker has just taken waits for requestsMutex_ in RunRequest
  // and then finds its request gone.
  queue_.Cancel(requestId);
  const std::string night = FirstServiceDayAt(clock_.Now());
  for (const std::string& day : found->second.days) cancelledDays_[day] = night;
  activeRequests_.erase(found);
  log_.Info(fmt::format("{}: cancelled before it started", record.label));
  std::lock_guard runsLock(lastRunsMutex_);
  lastRuns_.insert(lastRuns_.begin(), std::move(record));
  if (lastRuns_.size() > static_cast<size_t>(kLastRuns)) lastRuns_.resize(kLastRuns);
  return CancelAnswer::Cancelled;
}

nlohmann::json Service::TrackGeoJson(std::string_view dayKey, std::string_view simId) const {
  ReportDatabase db;
  SilentCaption caption;
  ConnectionSettings readOnly = connection_;
  readOnly.writesSqliteFile = false;  // the track only reads
  OpenRunSession(db, readOnly, caption);
  return DayTrackGeoJson(db, dayKey, simId);
}

void Service::TimerLoop() {
  while (Pause(options_.tickPeriod)) Tick();
}

void Service::Stop() {
  stopRuns_ = true;
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
    stopChanged_.notify_all();
  }
  if (timer_.joinable()) timer_.join();
  queue_.Stop();
}

nlohmann::json Service::Status() const {
  const ServiceCaption::State caption = caption_.Current();
  nlohmann::json status;
  status["caption"] = caption.text;
  status["progress"] = {{"done", caption.done}, {"total", caption.total}};
  if (caption.days > 1) {
    status["progress"]["day"] = caption.day;
    status["progress"]["days"] = caption.days;
  }
  status["about"] = kAboutText;
  {
    std::lock_guard lock(scheduleMutex_);
    status["pendingDay"] = schedule_.PendingDay();
  }
  if (const LocalDateTime now = clock_.Now(); now.day.ok()) {
    const NightRun next = NextNightRun(now);
    status["nextRun"] = next.at;
    status["nextRunDay"] = next.day;
  }
  status["speedLimitsLoaded"] = speedLimitsLoaded_.load();
  // Read on every status, so that the page shows a fix at once.
  const std::string settingsFault = ReportSettingsFault(options_.startDirectory / "report.ini");
  status["settingsFault"] = settingsFault.empty() ? nlohmann::json(nullptr) : nlohmann::json(settingsFault);
  status["version"] = kVersion;
  const auto current = queue_.Current();
  status["current"] = current ? RecordJson(*current) : nlohmann::json(nullptr);
  status["queue"] = nlohmann::json::array();
  for (const JobRecord& record : queue_.Waiting()) status["queue"].push_back(RecordJson(record));
  status["lastRuns"] = nlohmann::json::array();
  {
    // Not the requests' lock: that one is held while the ledger records a request.
    std::lock_guard lock(lastRunsMutex_);
    for (const RequestRecord& request : lastRuns_) status["lastRuns"].push_back(RequestJson(request));
  }
  status["messages"] = nlohmann::json::array();
  for (const ServiceMessage& message : log_.Recent()) {
    status["messages"].push_back(
        {{"seq", message.sequence}, {"time", message.time}, {"level", message.level}, {"text", message.text}});
  }
  status["runLog"] = RunLogTail(options_.startDirectory, runLogEncoding_, 40);
  return status;
}

}  // namespace cuserver
