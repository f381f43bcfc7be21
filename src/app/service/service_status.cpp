#include "app/service/service.hpp"

#include "app/service/run_log_tail.hpp"
#include "app/version.hpp"
#include "reports/settings.hpp"

namespace cuserver {
namespace {

// The outcome as the operator reads it, beside the outcome key.
std::string OutcomeChinese(std::string_view outcome) {
  if (outcome == OutcomeText(JobOutcome::Succeeded)) return "成功";
  if (outcome == OutcomeText(JobOutcome::Failed)) return "失败";
  if (outcome == OutcomeText(JobOutcome::CouldNotRun)) return "未能计算";
  if (outcome == kRequestCancelled) return "已取消";
  return std::string(outcome);
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
  status["delivery"] = DeliveryStatus();
  status["runLog"] = RunLogTail(options_.startDirectory, runLogEncoding_, 40);
  return status;
}

}  // namespace cuserver
