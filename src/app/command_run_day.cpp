#include "app/command_run_day.hpp"

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

RunDayCommand::RunDayCommand(Today today) : today_(today ? std::move(today) : Today(LocalToday)) {}

void RunDayCommand::AddArguments(CLI::App& command) {
  command.add_option("DAYKEY", day_, Tr("The day as yyyy-mm-dd or yyyymmdd, from 2008-01-01 to today"))
      ->type_name("yyyy-mm-dd")
      ->required();
  scale_.AddTo(command);
  command.add_flag("--json", json_, Tr("Print one JSON object with the run's counts instead of the text"));
}

void RunDayCommand::FromJson(const nlohmann::json& arguments) {
  day_.clear();
  json_ = false;
  JsonText(arguments, "day", day_);
  scale_.FromJson(arguments);
}

void RunDayCommand::Setup() {
  day_ = DayKeyText(RunnableDay(day_, today_()));
  scale_.Setup();
}

void RunDayCommand::Run(CommandEnvironment& env) {
  const DayRunResources resources(env, scale_);
  ran_.clear();
  const DayRunCounts counts = DayRun(day_, resources.Setup());
  ran_.push_back({day_, counts, {}});
  // The database stayed away: the day is incomplete and waits for its retry.
  if (counts.lost > 0) throw CannotRunError(TrFormat("day {}: {}", day_, counts.detail));
  if (env.Summaries(*this)) {
    EndCaptionLine(env.GetCaption());
    env.Out() << DayRunSummaryLine(day_, counts) << '\n';
  }
}

void RunDayCommand::AddToSummary(nlohmann::json& summary) const {
  AddDaysToSummary(summary, ran_);
}

}  // namespace cuserver
