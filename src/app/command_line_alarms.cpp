#include "app/command_line_alarms.hpp"

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/console.hpp"
#include "app/day_arguments.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "app/run_summary.hpp"
#include "reports/translate.hpp"
#include "run/day_key.hpp"
#include "run/line_alarm_run.hpp"
#include "run/run_session.hpp"

namespace cuserver {
LineAlarmsCommand::LineAlarmsCommand(Today today) : today_(today ? std::move(today) : Today(LocalToday)) {}

void LineAlarmsCommand::AddArguments(CLI::App& command) {
  command.add_option("DAYKEY", days_, Tr("The days as yyyy-mm-dd or yyyymmdd, each from 2008-01-01 to today"))
      ->type_name("yyyy-mm-dd")
      ->required();
  scale_.AddTo(command);
  command.add_flag("--json", json_, Tr("Print one JSON object with each day's counts instead of the text"));
}

void LineAlarmsCommand::FromJson(const nlohmann::json& arguments) {
  RequireJsonObject(arguments);
  days_.clear();
  json_ = false;
  scale_.FromJson(arguments);
  if (arguments.is_null() || !arguments.contains("days") || arguments["days"].is_null()) return;
  const nlohmann::json& days = arguments["days"];
  if (!days.is_array()) throw ArgumentError(Tr("the argument \"days\" is a list of days"));
  for (const auto& day : days) {
    if (day.is_string()) {
      days_.push_back(day.get<std::string>());
    } else if (day.is_number()) {
      days_.push_back(day.dump());
    } else {
      throw ArgumentError(Tr("each item of \"days\" is a text or a number"));
    }
  }
}

void LineAlarmsCommand::Setup() {
  if (days_.empty()) throw ArgumentError(Tr("give at least one day (yyyy-mm-dd or yyyymmdd)"));
  const auto today = today_();
  for (std::string& day : days_) day = DayKeyText(RunnableDay(day, today));
  scale_.Setup();
}

void LineAlarmsCommand::Run(CommandEnvironment& env) {
  LineAlarmRunSetup setup{env.Connection(), env.Map(), env.GetCaption(), env.GetDiagnostics(), scale_.Jobs()};
  int connected = 0;
  std::string refusal;
  ran_.clear();
  notComputed_.clear();
  for (const std::string& day : days_) {
    LineAlarmRunCounts counts;
    try {
      counts = ComputeLineAlarms(day, setup);
    } catch (const ConnectionRefusedError& error) {
      refusal = error.what();
      notComputed_.emplace_back(day, refusal);
      env.GetDiagnostics().Failure(TrFormat("day {}: no road-segment alarm computed: {}", day, refusal));
      continue;
    }
    ++connected;
    ran_.emplace_back(day, counts);
    EndCaptionLine(env.GetCaption());
    if (counts.lost > 0) {
      throw CannotRunError(TrFormat("day {}: the database went away; {} vehicles not scanned", day, counts.lost));
    }
    if (!env.Summaries(*this)) continue;
    env.Out() << TrFormat("{}: {} of {} vehicles scanned, {} fixes, {} stretches opened, {} completed, {} left "
                          "open{}\n",
                          day, counts.scanned, counts.vehicles, counts.fixes, counts.opened, counts.closed,
                          counts.leftOpen, counts.complete ? "" : Tr(" (run ended early)"));
  }
  if (connected == 0) throw CannotRunError(refusal);
}

void LineAlarmsCommand::AddToSummary(nlohmann::json& summary) const {
  nlohmann::json days = nlohmann::json::array();
  int opened = 0;
  for (const auto& [day, counts] : ran_) {
    days.push_back(LineAlarmDayJson(day, counts));
    opened += counts.opened;
  }
  for (const auto& [day, why] : notComputed_) {
    days.push_back({{"day", day}, {"outcome", "could not run"}, {"detail", why}});
  }
  summary["days"] = std::move(days);
  if (!ran_.empty()) summary["rowsWritten"]["LINEALARMREPROT"] = opened;
}

}  // namespace cuserver
