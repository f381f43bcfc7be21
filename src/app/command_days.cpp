#include "app/command_days.hpp"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "app/day_arguments.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "app/service/schedule.hpp"
#include "db/ledger.hpp"
#include "reports/translate.hpp"
#include "run/day_key.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

nlohmann::json TextOrNull(const std::string& text) { return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text); }

nlohmann::json ShardJson(const DayRecord& row) {
  return {{"shard", row.shard},
          {"outcome", DayOutcomeText(row.outcome)},
          {"attempts", row.attempts},
          {"host", row.host},
          {"pid", row.pid},
          {"started", TextOrNull(row.started)},
          {"ended", TextOrNull(row.ended)},
          {"vehicles", row.counts.vehicles},
          {"computed", row.counts.computed},
          {"skipped", row.counts.skipped},
          {"rowsWritten", row.counts.rowsWritten},
          {"rowsRefused", row.counts.rowsRefused},
          {"reportsFailed", row.counts.reportsFailed},
          {"detail", row.detail}};
}

}  // namespace

DayRange ResolveDayRange(std::string_view from, std::string_view to, year_month_day today) {
  year_month_day first;
  year_month_day last{sys_days{today} - days{1}};
  if (!from.empty()) first = ReadableDay(from);
  if (!to.empty()) last = ReadableDay(to);
  if (from.empty()) first = year_month_day{sys_days{last} - days{kDefaultListedDays - 1}};
  if (to.empty() && !from.empty()) last = year_month_day{sys_days{first} + days{kDefaultListedDays - 1}};
  RequireDayOrder(first, last);
  const auto count = (sys_days{last} - sys_days{first}).count() + 1;
  if (count > kMaxListedDays) {
    throw ArgumentError(TrFormat("at most {} days are listed at once; {} to {} is {} days", kMaxListedDays,
                                 ShownDayText(first),
                                    ShownDayText(last), count));
  }
  return {DayKeyText(first), DayKeyText(last)};
}

std::vector<DayStatus> ReadDayStatuses(const ConnectionSettings& connection, const DayRange& range, int retryLimit) {
  ReportDatabase db;
  SilentCaption caption;
  ConnectionSettings readOnly = connection;
  readOnly.writesSqliteFile = false;  // listing the days writes nothing
  OpenRunSession(db, readOnly, caption);
  Ledger ledger(db);
  std::vector<DayStatus> statuses = DayStatuses(db, ledger, range.from, range.to, retryLimit);
  MarkInterrupted(statuses, HostName(), ClaimTimingFor(connection).staleAfter);
  return statuses;
}

nlohmann::json DayStatusesJson(const std::vector<DayStatus>& statuses) {
  nlohmann::json days = nlohmann::json::array();
  for (const DayStatus& status : statuses) {
    nlohmann::json shards = nlohmann::json::array();
    for (const DayRecord& row : status.shards) shards.push_back(ShardJson(row));
    days.push_back({{"day", status.day},
                    {"state", DayStateText(status.state)},
                    {"attempts", status.attempts},
                    {"ended", TextOrNull(status.lastEnded)},
                    {"detail", status.detail},
                    {"shards", std::move(shards)}});
  }
  return days;
}

DaysCommand::DaysCommand(Today today) : today_(today ? std::move(today) : Today(LocalToday)) {}

void DaysCommand::AddArguments(CLI::App& command) {
  command.add_option("--from", from_, Tr("The first day as yyyy-mm-dd or yyyymmdd (default: 6 days before --to)"))
      ->type_name("DAYKEY");
  command.add_option("--to", to_,
                     Tr("The last day as yyyy-mm-dd or yyyymmdd (default: yesterday, or 6 days after --from)"))
      ->type_name("DAYKEY");
  command.add_flag("--json", json_, Tr("One JSON object (the days under \"days\") instead of the table"));
}

void DaysCommand::FromJson(const nlohmann::json& arguments) {
  RequireJsonObject(arguments);
  from_.clear();
  to_.clear();
  JsonText(arguments, "from", from_);
  JsonText(arguments, "to", to_);
  json_ = false;
  if (arguments.is_object() && arguments.contains("json")) {
    if (!arguments["json"].is_boolean()) throw ArgumentError(Tr("json must be true or false"));
    json_ = arguments["json"].get<bool>();
  }
}

void DaysCommand::AddToSummary(nlohmann::json& summary) const {
  summary["from"] = range_.from;
  summary["to"] = range_.to;
  summary["days"] = DayStatusesJson(statuses_);
}

void DaysCommand::Setup() { range_ = ResolveDayRange(from_, to_, today_()); }

void DaysCommand::Run(CommandEnvironment& env) {
  const int retryLimit = ReadCatchUpSettings(env.Settings()).retryLimit;
  statuses_ = ReadDayStatuses(env.Connection(), range_, retryLimit);
  const std::vector<DayStatus>& statuses = statuses_;
  if (json_) return;
  // The table is for people: its header and states are in their language.
  env.Out() << fmt::format("{:<8}  {:<23}  {:>8}  {:<19}  {}\n", Tr("day"), Tr("state"), Tr("attempts"),
                           Tr("last end"), Tr("detail"));
  for (const DayStatus& status : statuses) {
    env.Out() << fmt::format("{:<8}  {:<23}  {:>8}  {:<19}  {}\n", status.day, DayStateWords(status.state),
                             status.attempts, status.lastEnded.empty() ? "-" : status.lastEnded, status.detail);
  }
}

}  // namespace cuserver
