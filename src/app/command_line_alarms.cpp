#include "app/command_line_alarms.hpp"

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/console.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "run/day_key.hpp"
#include "run/line_alarm_run.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

// On a terminal the caption is a line redrawn in place; it is ended before a
// result line is written, so that the result stands on a line of its own.
void EndCaptionLine(CommandEnvironment& env) {
  if (auto* console = dynamic_cast<Console*>(&env.GetCaption())) console->Finish();
}

}  // namespace

LineAlarmsCommand::LineAlarmsCommand(Today today) : today_(today ? std::move(today) : Today(LocalToday)) {}

void LineAlarmsCommand::AddArguments(CLI::App& command) {
  command.add_option("DAYKEY", days_, "The days as yyyymmdd, each from 20080101 to today")->required();
}

void LineAlarmsCommand::FromJson(const nlohmann::json& arguments) {
  RequireJsonObject(arguments);
  days_.clear();
  if (arguments.is_null() || !arguments.contains("days") || arguments["days"].is_null()) return;
  const nlohmann::json& days = arguments["days"];
  if (!days.is_array()) throw ArgumentError("参数“days”应为日期的列表");
  for (const auto& day : days) {
    if (day.is_string()) {
      days_.push_back(day.get<std::string>());
    } else if (day.is_number()) {
      days_.push_back(day.dump());
    } else {
      throw ArgumentError("“days”中的每一项应为字符串或数字");
    }
  }
}

void LineAlarmsCommand::Setup() {
  if (days_.empty()) throw ArgumentError("请至少给出一天（yyyymmdd）");
  const auto today = today_();
  for (const std::string& day : days_) {
    if (!IsRunnableDayKey(day, today)) throw ArgumentError(fmt::format("{}({})", kDayOutOfRangeMessage, day));
  }
}

void LineAlarmsCommand::Run(CommandEnvironment& env) {
  LineAlarmRunSetup setup{env.Connection(), env.Map(), env.GetCaption(), env.GetDiagnostics()};
  int connected = 0;
  std::string refusal;
  for (const std::string& day : days_) {
    LineAlarmRunCounts counts;
    try {
      counts = ComputeLineAlarms(day, setup);
    } catch (const ConnectionRefusedError& error) {
      refusal = error.what();
      env.GetDiagnostics().Failure(fmt::format("day {}: no road-segment alarm computed: {}", day, refusal));
      continue;
    }
    ++connected;
    EndCaptionLine(env);
    if (counts.lost > 0) {
      throw CannotRunError(fmt::format("day {}: the database went away; {} vehicles not scanned", day, counts.lost));
    }
    env.Out() << fmt::format("{}: {} of {} vehicles scanned, {} fixes, {} stretches opened, {} completed, {} left open{}\n",
                             day, counts.scanned, counts.vehicles, counts.fixes, counts.opened, counts.closed,
                             counts.leftOpen, counts.complete ? "" : " (run ended early)");
  }
  if (connected == 0) throw CannotRunError(refusal);
}

}  // namespace cuserver
