#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/command.hpp"
#include "app/run_scale_options.hpp"
#include "app/run_summary.hpp"

namespace cuserver {

// run-day DAYKEY: the day run for one day, as the operator's one-day button
// started it. A day is accepted when it is a real calendar date, yyyy-mm-dd
// or yyyymmdd, from 2008-01-01 to today; the run works on its DayKey.
class RunDayCommand : public Command {
 public:
  using Today = std::function<std::chrono::year_month_day()>;
  explicit RunDayCommand(Today today = {});

  std::string Name() const override { return "run-day"; }
  std::string Synopsis() const override { return Tr("Compute every report of one day (DAYKEY: yyyy-mm-dd or yyyymmdd)"); }
  void AddArguments(CLI::App& command) override;
  // {"day": "20140319", "jobs": 2, "shard": "1/2"}; jobs and shard may be left out
  void FromJson(const nlohmann::json& arguments) override;
  void Setup() override;
  bool NeedsMap() const override { return true; }
  void Run(CommandEnvironment& env) override;
  bool JsonOutput() const override { return json_; }
  void AddToSummary(nlohmann::json& summary) const override;

  const std::string& Day() const { return day_; }
  const RunScaleOptions& Scale() const { return scale_; }

 private:
  Today today_;
  std::string day_;
  RunScaleOptions scale_;
  bool json_ = false;
  std::vector<DaySummary> ran_;
};

}  // namespace cuserver
