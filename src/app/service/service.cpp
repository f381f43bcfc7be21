#include "app/service/service.hpp"

#include <fmt/format.h>

#include <sstream>

#include "app/command.hpp"
#include "app/commands.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/service/instance_lock.hpp"
#include "app/service/layers_geojson.hpp"
#include "app/service/run_log_tail.hpp"
#include "db/loaders.hpp"
#include "db/report_tables.hpp"
#include "map/windows_path.hpp"
#include "reports/diagnostics.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

constexpr std::string_view kNoDatabaseMessage = "请检查数据库是否已经正常启动!";

ReportTableKind KindOf(const std::string& table) {
  auto starts = [&table](std::string_view family) {
    return table.size() >= family.size() && FoldCase(table.substr(0, family.size())) == FoldCase(family);
  };
  if (starts("AlarmSMS")) return ReportTableKind::AlarmSMS;
  if (starts("DownloadSMS")) return ReportTableKind::DownloadSMS;
  if (starts("SpeedAlarm")) return ReportTableKind::SpeedAlarm;
  if (starts("VehicleDistance")) return ReportTableKind::VehicleDistance;
  return ReportTableKind::ParkingLog;
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

nlohmann::json RecordJson(const JobRecord& record) {
  nlohmann::json json = {{"id", record.id},
                         {"label", record.label},
                         {"requested", record.requested},
                         {"started", record.started},
                         {"ended", record.ended}};
  if (record.result) {
    json["outcome"] = OutcomeText(record.result->outcome);
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

  const MapSettings mapSettings = ReadMapSettings(*settings, options_.startDirectory);
  log_.Info(fmt::format("开始装载地图.({})", mapSettings.geoset.string()));
  try {
    auto map = CreateMapServices(mapSettings.toleranceMetres);
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
    } catch (const ConnectionRefusedError& error) {
      log_.Error(fmt::format("{} (attempt {} of {})", error.what(), attempt, options_.connectAttempts));
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
  try {
    speedLimits_ = LoadSpeedLimits(db);
    speedLimitsLoaded_ = true;
  } catch (const DatabaseError& error) {
    // Each run then loads the limits itself rather than judging every vehicle
    // by report.ini's limits for the service's whole life.
    log_.Error("speed limits not loaded, each run loads them: " + DatabaseErrorText(error));
    return {JobOutcome::Failed, "speed limits not loaded: " + DatabaseErrorText(error)};
  }
  return {JobOutcome::Succeeded, fmt::format("connected; speed limits of {} vehicles loaded", speedLimits_.size())};
}

JobResult Service::EnsureTables(const std::vector<std::string>& tables) {
  ReportDatabase db;
  try {
    OpenRunSession(db, connection_, caption_);
  } catch (const ConnectionRefusedError& error) {
    log_.Error(error.what());
    return {JobOutcome::CouldNotRun, error.what()};
  }
  for (const std::string& table : tables) EnsureReportTable(db, KindOf(table), table);
  return {JobOutcome::Succeeded, fmt::format("{} tables ensured", tables.size())};
}

JobResult Service::RunCommandJob(Command& command) {
  std::ostringstream out;
  Diagnostics diagnostics([this](const std::string& line) { log_.Warning(line); });
  CommandEnvironment env(options_.startDirectory, options_.configFile, out, caption_, diagnostics);
  env.UseMap(*map_);
  if (speedLimitsLoaded_) env.UseSpeedLimits(speedLimits_);
  caption_.Progress(-1, -1);
  auto fail = [this](JobOutcome outcome, const std::string& message) {
    log_.Error(message);
    return JobResult{outcome, message};
  };
  try {
    RunCommand(command, env);
  } catch (const ConnectionRefusedError& error) {
    return fail(JobOutcome::CouldNotRun, error.what());
  } catch (const DatabaseError& error) {
    return fail(JobOutcome::Failed, DatabaseErrorText(error));
  } catch (const std::exception& error) {
    return fail(JobOutcome::CouldNotRun, error.what());
  }
  std::string line;
  std::istringstream lines(out.str());
  std::string last;
  while (std::getline(lines, line)) {
    log_.Info(line);
    last = line;
  }
  if (diagnostics.AnyFailure()) return {JobOutcome::Failed, diagnostics.Summary()};
  return {JobOutcome::Succeeded, last.empty() ? caption_.Current().text : last};
}

void Service::Tick() {
  TickActions actions;
  {
    std::lock_guard lock(scheduleMutex_);
    actions = schedule_.Tick(clock_.Now());
  }
  if (!actions.tables.empty()) {
    const std::string month = actions.tables.front().substr(std::string_view("SpeedAlarm").size());
    queue_.AddUnlessWaiting("建立本月报表 " + month,
                            [this, tables = actions.tables] { return EnsureTables(tables); });
  }
  if (actions.runDay) {
    const std::string day = *actions.runDay;
    log_.Info(fmt::format("定时计算 {}", day));
    queue_.Add("定时计算 " + day, [this, day] {
      auto command = MakeCommand("run-day");
      command->FromJson(nlohmann::json{{"day", day}});
      return RunCommandJob(*command);
    });
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
  log_.Info("请求：" + label);
  return queue_.Add(label, [this, shared] { return RunCommandJob(*shared); });
}

void Service::TimerLoop() {
  while (Pause(options_.tickPeriod)) Tick();
}

void Service::Stop() {
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
  status["about"] = kAboutText;
  {
    std::lock_guard lock(scheduleMutex_);
    status["pendingDay"] = schedule_.PendingDay();
  }
  status["speedLimitsLoaded"] = speedLimitsLoaded_.load();
  const auto current = queue_.Current();
  status["current"] = current ? RecordJson(*current) : nlohmann::json(nullptr);
  status["queue"] = nlohmann::json::array();
  for (const JobRecord& record : queue_.Waiting()) status["queue"].push_back(RecordJson(record));
  status["lastRuns"] = nlohmann::json::array();
  for (const JobRecord& record : queue_.Finished()) status["lastRuns"].push_back(RecordJson(record));
  status["messages"] = nlohmann::json::array();
  for (const ServiceMessage& message : log_.Recent()) {
    status["messages"].push_back(
        {{"seq", message.sequence}, {"time", message.time}, {"level", message.level}, {"text", message.text}});
  }
  status["runLog"] = RunLogTail(options_.startDirectory, runLogEncoding_, 40);
  return status;
}

}  // namespace cuserver
