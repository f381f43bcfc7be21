#include "app/service/service.hpp"

#include <fmt/format.h>

#include "app/command.hpp"
#include "app/command_run_days.hpp"
#include "app/commands.hpp"
#include "app/errors.hpp"
#include "app/service/instance_lock.hpp"
#include "run/day_key.hpp"
#include "run/day_states.hpp"

namespace cuserver {
namespace {

constexpr int kLastRuns = 20;
constexpr std::string_view kCancelledDetail = "开始前已取消";

std::string JobLabel(std::string_view command, const nlohmann::json& arguments) {
  // Days as DayKeys, however the operator wrote them.
  auto text = [&arguments](const char* key) {
    if (!arguments.is_object() || !arguments.contains(key)) return std::string();
    const auto& value = arguments[key];
    std::string given = value.is_string() ? value.get<std::string>() : value.dump();
    std::chrono::year_month_day day;
    return ParseDayKey(given, day) ? DayKeyText(day) : given;
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
  std::chrono::year_month_day from;
  std::chrono::year_month_day to;
  if (command == "run-day" && ParseDayKey(ArgumentText(arguments, "day"), from)) return {DayKeyText(from)};
  if (command == "run-days" && ParseDayKey(ArgumentText(arguments, "from"), from) &&
      ParseDayKey(ArgumentText(arguments, "to"), to)) {
    return DayKeysBetween(from, to);
  }
  return {};
}

}  // namespace

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
    log_.Error(fmt::format("{}：开始时间未记入日期记录表：{}", record.label, DatabaseErrorText(error)));
  }

  JobResult result = RunCommandJob(command);
  // A day run that completed its day may complete a delivery's period.
  if (!days.empty()) CheckDeliveries();

  if (stopRuns_) {
    // Re-runs are idempotent: the next start runs the request again whole.
    log_.Info(fmt::format("{}：已停止；下次启动时重新计算", record.label));
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
    log_.Error(fmt::format("{}：结束未记入日期记录表，下次启动时重新计算：{}", record.label,
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
    log_.Error("暂时无法读取日期记录表（本次启动前请求的计算、补算）：" +
               DatabaseErrorText(error));
    return false;
  }
  resumed_ = true;
  std::vector<RunQueue::EarlierJob> jobs;
  for (RequestRecord& request : open) {
    if (activeRequests_.contains(request.id)) continue;  // asked for since this start
    std::shared_ptr<Command> command = ComputesReports(request.command) ? MakeCommand(request.command) : nullptr;
    const nlohmann::json arguments = nlohmann::json::parse(request.arguments, nullptr, false);
    std::string refusal = command ? "" : "未知命令 " + request.command;
    if (command) {
      try {
        command->FromJson(arguments);
        command->Setup();
      } catch (const std::exception& error) {
        refusal = error.what();
      }
    }
    if (!refusal.empty()) {
      log_.Error(fmt::format("{}：本次启动前请求的计算，不再重新计算：{}", request.label, refusal));
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
  if (!jobs.empty()) log_.Info(fmt::format("本次启动前请求的 {} 个计算重新加入队列", jobs.size()));
  queue_.AddAhead(std::move(jobs));
  return true;
}

long long Service::Submit(std::string_view name, const nlohmann::json& arguments) {
  std::unique_ptr<Command> command = ComputesReports(name) ? MakeCommand(name) : nullptr;
  if (!command) throw ArgumentError(fmt::format("未知命令 {}", name));
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
  log_.Info(fmt::format("{}：开始前已取消", record.label));
  std::lock_guard runsLock(lastRunsMutex_);
  lastRuns_.insert(lastRuns_.begin(), std::move(record));
  if (lastRuns_.size() > static_cast<size_t>(kLastRuns)) lastRuns_.resize(kLastRuns);
  return CancelAnswer::Cancelled;
}

}  // namespace cuserver
