#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/command.hpp"
#include "app/run_scale_options.hpp"
#include "app/run_summary.hpp"

namespace cuserver {

// Every real calendar day from `from` to `to`, both included, across months
// and years, as DayKeys. Empty when `to` is before `from`.
std::vector<std::string> DayKeysBetween(std::chrono::year_month_day from, std::chrono::year_month_day to);

// run-days FROM TO: the day run for each day of a range, in order, as the
// operator's several-days button started them. Both ends must be real calendar
// dates (yyyy-mm-dd or yyyymmdd) from 2008-01-01 to today, FROM not after TO;
// anything else is refused with "日期超出指定范围！" and what was wrong. A day whose run cannot connect
// is recorded as a failure and the next day runs.
class RunDaysCommand : public Command {
 public:
  using Today = std::function<std::chrono::year_month_day()>;
  explicit RunDaysCommand(Today today = {});

  std::string Name() const override { return "run-days"; }
  std::string Synopsis() const override { return Tr("Compute every report of each day from FROM to TO (yyyy-mm-dd or yyyymmdd)"); }
  void AddArguments(CLI::App& command) override;
  // {"from": "20140301", "to": "20140305", "jobs": 2, "shard": "1/2"}; jobs and shard may be left out
  void FromJson(const nlohmann::json& arguments) override;
  void Setup() override;
  bool NeedsMap() const override { return true; }
  void Run(CommandEnvironment& env) override;
  bool JsonOutput() const override { return json_; }
  void AddToSummary(nlohmann::json& summary) const override;

  const std::vector<std::string>& Days() const { return days_; }
  const RunScaleOptions& Scale() const { return scale_; }

 private:
  Today today_;
  std::string from_;
  std::string to_;
  std::vector<std::string> days_;
  RunScaleOptions scale_;
  bool json_ = false;
  std::vector<DaySummary> ran_;
};

}  // namespace cuserver
