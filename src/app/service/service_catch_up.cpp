#include "app/service/service.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>

#include "app/command.hpp"
#include "app/commands.hpp"
#include "app/environment.hpp"
#include "run/day_states.hpp"

namespace cuserver {
namespace {

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

}  // namespace

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
    log_.Error("补算：无法读取日期记录表：" + DatabaseErrorText(error));
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
    log_.Error(fmt::format("{} 经 {} 次计算仍未完成，等待操作员处理：请在控制页面或用 `cuserver run-day {}` 计算",
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
      log_.Error(fmt::format("{}{} 未加入队列，日期记录表无法记录它：{}", kScheduledLabel, day,
                             DatabaseErrorText(error)));
      return;
    }
    log_.Info(std::string(kScheduledLabel) + day);
  }
}

}  // namespace cuserver
