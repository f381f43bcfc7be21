#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/command.hpp"
#include "app/run_scale_options.hpp"
#include "run/line_alarm_run.hpp"

namespace cuserver {

// line-alarms DAYKEY [DAYKEY...]: the road-segment alarm run for each day in
// turn, as the operator's hidden button ran it for its fixed days. Each day
// is checked as run-day checks its day. A day whose run cannot connect, or
// whose run a loader ends, is recorded as a failure and the next day runs;
// when no day could connect at all, the command could not run.
class LineAlarmsCommand : public Command {
 public:
  using Today = std::function<std::chrono::year_month_day()>;
  explicit LineAlarmsCommand(Today today = {});

  std::string Name() const override { return "line-alarms"; }
  std::string Synopsis() const override {
    return Tr("Record each vehicle's highway stretches of each day in LINEALARMREPROT (DAYKEY: yyyy-mm-dd or yyyymmdd)");
  }
  void AddArguments(CLI::App& command) override;
  void FromJson(const nlohmann::json& arguments) override;  // {"days": ["20140319", 20140320], "jobs": 2}
  void Setup() override;
  bool NeedsMap() const override { return true; }
  void Run(CommandEnvironment& env) override;
  bool JsonOutput() const override { return json_; }
  void AddToSummary(nlohmann::json& summary) const override;

  const std::vector<std::string>& Days() const { return days_; }
  const RunScaleOptions& Scale() const { return scale_; }

 private:
  Today today_;
  std::vector<std::string> days_;
  bool json_ = false;
  RunScaleOptions scale_{false};  // --jobs; no shards
  std::vector<std::pair<std::string, LineAlarmRunCounts>> ran_;
  std::vector<std::pair<std::string, std::string>> notComputed_;  // day, why
};

}  // namespace cuserver
