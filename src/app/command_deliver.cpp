#include "app/command_deliver.hpp"

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <nlohmann/json.hpp>

#include "app/day_arguments.hpp"
#include "app/delivery/delivery_files.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "reports/translate.hpp"

namespace cuserver {

void DeliverCommand::AddArguments(CLI::App& command) {
  command.add_option("DAYKEY", dayKey_, Tr("The day as yyyy-mm-dd or yyyymmdd"))->type_name("yyyy-mm-dd");
  command.add_option("--month", month_, Tr("A whole month instead of a day"))->type_name("yyyymm");
  command.add_flag("--dry-run", dryRun_, Tr("Only write the workbook into [Delivery] Folder; send nothing"));
}

void DeliverCommand::FromJson(const nlohmann::json& arguments) {
  RequireJsonObject(arguments);
  dayKey_.clear();
  month_.clear();
  dryRun_ = false;
  JsonText(arguments, "day", dayKey_);
  JsonText(arguments, "month", month_);
  if (arguments.contains("dryRun")) {
    if (!arguments["dryRun"].is_boolean()) throw ArgumentError(Tr("dryRun is true or false"));
    dryRun_ = arguments["dryRun"].get<bool>();
  }
}

void DeliverCommand::Setup() {
  if (dayKey_.empty() == month_.empty()) throw ArgumentError(Tr("give a day (DAYKEY) or a month (--month yyyymm), one of the two"));
  period_ = month_.empty() ? DeliveryPeriod{ReadableDay(dayKey_), false} : ReadableMonth(month_);
}

void DeliverCommand::Run(CommandEnvironment& env) {
  const DeliverySettings settings = ReadDeliverySettings(env.Settings(), env.ConfigFile(), env.StartDirectory());
  if (!dryRun_) RequireMailSettings(settings, env.ConfigFile());
  const std::vector<ReportSheet> sheets = DeliverySheets(env.Connection(), settings, period_);
  file_ = WriteDeliveryFile(settings.folder, period_, sheets, std::chrono::system_clock::now());
  env.Out() << TrFormat("written: {}\n", file_.string());
  if (dryRun_) return;
  SendMail(settings, DeliveryMail(settings, period_, file_));
  sent_ = true;
  env.Out() << TrFormat("sent to {} ({})\n", fmt::format("{}", fmt::join(settings.to, ", ")), ShownServer(settings.smtpUrl));
}

void DeliverCommand::AddToSummary(nlohmann::json& summary) const {
  summary["file"] = file_.string();
  summary["sent"] = sent_;
}

}  // namespace cuserver
