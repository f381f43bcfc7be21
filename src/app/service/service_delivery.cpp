#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>

#include "app/delivery/delivery_files.hpp"
#include "app/failure.hpp"
#include "app/service/service.hpp"
#include "run/day_key.hpp"

namespace cuserver {
namespace {

constexpr std::string_view kDeliveryLabel = "发送报表";

// The service clock's time as the ledger keeps times, so that the pause
// before a retry is measured on the clock the schedule reads.
std::string ClockText(const LocalDateTime& now) {
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:00", static_cast<int>(now.day.year()),
                     static_cast<unsigned>(now.day.month()), static_cast<unsigned>(now.day.day()), now.hour,
                     now.minute);
}

DeliveryPeriod PeriodOf(const std::string& key) {
  if (key.size() == 6) return ReadableMonth(key);
  std::chrono::year_month_day day;
  ParseDayKey(key, day);
  return {day, false};
}

}  // namespace

void Service::CheckDeliveries() {
  if (!delivery_.Scheduled() || stopRuns_) return;
  deliveryQueue_.AddUnlessWaiting(std::string(kDeliveryLabel), [this] { return DeliverDue(); });
}

JobResult Service::DeliverDue() {
  const LocalDateTime now = clock_.Now();
  if (!now.day.ok()) return {JobOutcome::CouldNotRun, "no clock"};
  std::vector<DayStatus> statuses;
  std::vector<DeliveryRecord> records;
  try {
    WithLedger([&](ReportDatabase& db, Ledger& ledger) {
      const std::string firstServiceDay = ledger.FirstServiceDay().value_or(FirstServiceDayAt(now));
      if (const auto window = CatchUpWindow(now, firstServiceDay, catchUp_)) {
        statuses = DayStatuses(db, ledger, window->from, window->to, catchUp_.retryLimit);
        records = ledger.Deliveries(window->from.substr(0, 6));
      }
      std::lock_guard lock(deliveryMutex_);
      if (!lastDeliveryRead_) {
        lastDelivery_ = ledger.LastDelivery();
        lastDeliveryRead_ = true;
      }
    });
  } catch (const DatabaseError& error) {
    const std::string detail = "发送报表：cuserver 的日志表无法读取：" + DatabaseErrorText(error);
    log_.Error(detail);
    return {JobOutcome::Failed, detail};
  }

  const DeliveryPlan plan = DueDeliveries(now, statuses, records, delivery_.daily, delivery_.monthly, catchUp_);
  for (const std::string& period : plan.givenUp) {
    if (!announcedGivenUp_.insert(period).second) continue;
    log_.Error(fmt::format("报表 {} 发送 {} 次都失败，不再自动重试：检查 [Delivery] 设置后用 `cuserver deliver {}` 发送",
                           PeriodOf(period).Shown(), catchUp_.retryLimit,
                           period.size() == 6 ? "--month " + period : period));
  }
  int sent = 0;
  int failed = 0;
  for (const std::string& period : plan.due) {
    if (stopRuns_) break;
    const auto record = std::find_if(records.begin(), records.end(),
                                     [&period](const DeliveryRecord& r) { return r.period == period; });
    (Deliver(period, record == records.end() ? 0 : record->attempts) ? sent : failed) += 1;
  }
  if (failed > 0) return {JobOutcome::Failed, fmt::format("{} 份报表已发送，{} 份发送失败", sent, failed)};
  return {JobOutcome::Succeeded, fmt::format("{} 份报表已发送", sent)};
}

bool Service::Deliver(const std::string& key, int attemptsBefore) {
  const DeliveryPeriod period = PeriodOf(key);
  DeliveryRecord record{key, attemptsBefore + 1, "", std::string(kDeliverySent), ""};
  try {
    const std::vector<ReportSheet> sheets = DeliverySheets(connection_, delivery_, period);
    const auto file = WriteDeliveryFile(delivery_.folder, period, sheets, std::chrono::system_clock::now());
    SendMail(delivery_, DeliveryMail(delivery_, period, file), &stopRuns_);
    record.detail = fmt::format("{} 已发送到 {}", file.filename().string(), fmt::join(delivery_.to, ", "));
    log_.Info(fmt::format("报表 {}：{}", period.Shown(), record.detail));
  } catch (...) {
    record.outcome = std::string(kDeliveryFailed);
    record.detail = FailureOf(std::current_exception()).text;
    if (stopRuns_) return false;  // abandoned by the stop: not an attempt
    log_.Error(fmt::format("报表 {} 发送失败（第 {} 次，共 {} 次）：{}", period.Shown(), record.attempts,
                           catchUp_.retryLimit, record.detail));
  }
  record.lastAttempt = ClockText(clock_.Now());
  try {
    WithLedger([&record](ReportDatabase&, Ledger& ledger) {
      ledger.RecordDelivery(record.period, record.lastAttempt, record.outcome, record.detail);
    });
  } catch (const DatabaseError& error) {
    log_.Error(fmt::format("报表 {} 的发送未能记入日志表，可能会再发一次：{}", period.Shown(), DatabaseErrorText(error)));
  }
  {
    std::lock_guard lock(runsMutex_);
    ++runs_.deliveries[record.outcome];
  }
  const bool sent = record.outcome == kDeliverySent;
  std::lock_guard lock(deliveryMutex_);
  lastDelivery_ = std::move(record);
  return sent;
}

nlohmann::json Service::DeliveryStatus() const {
  std::lock_guard lock(deliveryMutex_);
  if (!lastDelivery_) return nullptr;
  const DeliveryRecord& last = *lastDelivery_;
  return {{"period", last.period},
          {"outcome", last.outcome},
          {"outcomeText", last.outcome == kDeliverySent ? "已发送" : "发送失败"},
          {"detail", last.detail},
          {"attempts", last.attempts},
          {"at", last.lastAttempt}};
}

}  // namespace cuserver
