#include "app/command_run_days.hpp"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "app/console.hpp"
#include "app/day_arguments.hpp"
#include "app/day_run_resources.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "reports/translate.hpp"
#include "run/day_key.hpp"
#include "run/day_run.hpp"
#include "run/run_session.hpp"

namespace cuserver {

std::vector<std::string> DayKeysBetween(std::chrono::year_month_day from, std::chrono::year_month_day to) {
  std::vector<std::string> days;
  for (std::chrono::sys_days day{from}; day <= std::chrono::sys_days{to}; day += std::chrono::days{1}) {
    days.push_back(DayKeyText(std::chrono::year_month_day{day}));
  }
  return days;
}

RunDaysCommand::RunDaysCommand(Today today) : today_(today ? std::move(today) : Today(LocalToday)) {}

void RunDaysCommand::AddArguments(CLI::App& command) {
  command.add_option("FROM", from_, Tr("The first day as yyyy-mm-dd or yyyymmdd, from 2008-01-01 to today"))
      ->type_name("yyyy-mm-dd")
      ->required();
  command.add_option("TO", to_, Tr("The last day as yyyy-mm-dd or yyyymmdd, not before FROM and not after today"))
      ->type_name("yyyy-mm-dd")
      ->required();
  scale_.AddTo(command);
  command.add_flag("--json", json_, Tr("Print one JSON object with each day's counts instead of the text"));
}

void RunDaysCommand::FromJson(const nlohmann::json& arguments) {
  from_.clear();
  to_.clear();
  json_ = false;
  JsonText(arguments, "from", from_);
  JsonText(arguments, "to", to_);
  scale_.FromJson(arguments);
}

void RunDaysCommand::Setup() {
  const auto today = today_();
  const std::chrono::year_month_day from = RunnableDay(from_, today);
  const std::chrono::year_month_day to = RunnableDay(to_, today);
  RequireDayOrder(from, to);
  days_ = DayKeysBetween(from, to);
  scale_.Setup();
}

void RunDaysCommand::Run(CommandEnvironment& env) {
  const DayRunResources resources(env, scale_);
  const DayRunSetup& setup = resources.Setup();
  ran_.clear();
  Caption& caption = env.GetCaption();
  struct RangeEnd {
    Caption& caption;
    ~RangeEnd() { caption.DayOfRange(0, 0); }
  } rangeEnd{caption};
  const int count = static_cast<int>(days_.size());
  for (int index = 0; index < count; ++index) {
    const std::string& day = days_[static_cast<std::size_t>(index)];
    if (setup.stop != nullptr && *setup.stop) break;  // the stopped day is recorded incomplete; the rest wait
    if (count > 1) caption.DayOfRange(index + 1, count);
    try {
      const DayRunCounts counts = DayRun(day, setup);
      ran_.push_back({day, counts, {}});
      // The database stayed away: this day and the ones after it wait for a retry.
      if (counts.lost > 0) throw CannotRunError(TrFormat("day {}: {}", day, counts.detail));
      if (env.Summaries(*this)) {
        EndCaptionLine(env.GetCaption());
        env.Out() << DayRunSummaryLine(day, counts) << '\n';
      }
    } catch (const ConnectionRefusedError& error) {
      ran_.push_back({day, {}, error.what()});
      env.GetDiagnostics().Failure(TrFormat("day {} not computed: {}", day, error.what()));
    }
  }
}

void RunDaysCommand::AddToSummary(nlohmann::json& summary) const {
  AddDaysToSummary(summary, ran_);
}

}  // namespace cuserver
