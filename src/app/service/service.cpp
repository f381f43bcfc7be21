#include "app/service/service.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <sstream>

#include "app/command.hpp"
#include "app/commands.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/failure.hpp"
#include "app/service/layers_geojson.hpp"
#include "app/service/track_geojson.hpp"
#include "db/loaders.hpp"
#include "db/report_tables.hpp"
#include "reports/diagnostics.hpp"
#include "reports/settings.hpp"
#include "reports/translate.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

constexpr std::string_view kNoDatabaseMessage = "请检查数据库是否已经正常启动!";

// A name of no monthly table is made as a ParkingLog, as it always was.
ReportTableKind KindOf(const std::string& table) {
  return MonthlyTableKind(table).value_or(ReportTableKind::ParkingLog);
}

// What a run could not do, counted.
std::string FailuresText(const Diagnostics& diagnostics) {
  std::string text = fmt::format("{} 行被拒绝，{} 个报表计算失败，跳过 {} 辆车", diagnostics.RefusedRows(),
                                 diagnostics.FailedReports(), diagnostics.SkippedVehicles());
  if (diagnostics.Failures() > 0) text += fmt::format("，另有 {} 个其他故障", diagnostics.Failures());
  return text;
}

// A SQLite file that is not there does not come by waiting: the service
// stops at once and names it, rather than trying to connect for minutes.
void RequireDatabaseFile(const ConnectionSettings& connection) {
  if (connection.backend != Backend::Sqlite3 || connection.createSqliteFile) return;
  std::error_code ec;
  if (std::filesystem::status(connection.dataSource, ec).type() != std::filesystem::file_type::not_found) return;
  throw SettingsError(fmt::format(
      "SQLite 数据库文件 {} 不存在：在启动目录中用 `cuserver init-db` 建立，或在 DataSource 中另指一个",
      connection.dataSource));
}

}  // namespace

Service::Service(ServiceOptions options, ServiceLog& log)
    : options_(std::move(options)),
      log_(log),
      clock_(options_.clock != nullptr ? *options_.clock : systemClock_),
      caption_(log, std::string(kInitialCaption)) {
  // Its log, answers and the commands it runs speak to Chinese operators,
  // whatever the locale the service was started in.
  UseChineseMessages();
}

Service::~Service() { Stop(); }

void Service::Start() {
  auto settings = IniFile::Load(options_.configFile);
  if (!settings) {
    throw SettingsError(
        fmt::format("设置文件 {} 不存在或无法读取", options_.configFile.string()));
  }
  connection_ = ReadConnectionSettings(options_.configFile, options_.startDirectory);
  RequireDatabaseFile(connection_);
  runLogEncoding_ = ReadRunLogEncoding(*settings);
  catchUp_ = ReadCatchUpSettings(*settings);
  delivery_ = ReadDeliverySettings(*settings, options_.configFile, options_.startDirectory);

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
      const std::string detail = fmt::format("{}（第 {} 次，共 {} 次）", error.what(), attempt, options_.connectAttempts);
      log_.Error(detail);
      if (options_.databaseAttempt) options_.databaseAttempt(false, detail);
    } catch (const SettingsError& error) {
      // An ODBC source of a DBMS whose SQL is unknown: no attempt would do.
      log_.Error(error.what());
      if (options_.databaseAttempt) options_.databaseAttempt(false, error.what());
      return {JobOutcome::CouldNotRun, error.what()};
    }
    if (!connected && !Pause(options_.connectPause)) return {JobOutcome::CouldNotRun, "服务正在停止"};
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
    log_.Error("限速未装载，每次计算时自行装载：" + DatabaseErrorText(error));
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
  } catch (...) {
    const Failure failure = FailureOf(std::current_exception());
    return fail(failure.CouldNotRun() ? JobOutcome::CouldNotRun : JobOutcome::Failed, failure.RunDetail());
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
  RunStats runs = runs_;
  for (std::string_view outcome : {kDeliverySent, kDeliveryFailed}) runs.deliveries.try_emplace(std::string(outcome), 0);
  return runs;
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
  CheckDeliveries();
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
  deliveryQueue_.Stop();
}

}  // namespace cuserver
