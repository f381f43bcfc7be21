#include "app/command_report.hpp"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <nlohmann/json.hpp>

#include "app/day_arguments.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "app/service/schedule.hpp"
#include "reports/translate.hpp"
#include "run/caption.hpp"
#include "run/day_key.hpp"
#include "run/run_session.hpp"

namespace cuserver {

namespace {

// What a sheet's title says the rows were chosen by.
std::string ChosenBy(const ReportQuery& query) {
  std::vector<std::string> parts;
  if (!query.simId.empty()) parts.push_back(fmt::format("车辆 {}", query.simId));
  if (!query.filter.empty()) parts.push_back(fmt::format("筛选“{}”", query.filter));
  if (query.flaggedOnly && query.kind == ReportKind::Quality) parts.emplace_back("只列数据有问题的车辆");
  return fmt::format("{}", fmt::join(parts, "，"));
}

}  // namespace

void OpenReadingSession(ReportDatabase& db, const ConnectionSettings& connection) {
  SilentCaption caption;
  ConnectionSettings readOnly = connection;
  readOnly.writesSqliteFile = false;
  OpenRunSession(db, readOnly, caption);
}

void RequireReportFormat(const std::string& format) {
  if (format != "table" && format != "csv" && format != "json" && format != "xlsx") {
    throw ArgumentError(TrFormat("the format is table, csv, json or xlsx, not \"{}\"", format));
  }
}

void RefuseWorkbookOnTerminal(CommandEnvironment& env, const std::string& format, const std::string& output) {
  if (format == "xlsx" && output.empty() && &env.Out() == &std::cout && ::isatty(STDOUT_FILENO) == 1) {
    throw ArgumentError(Tr("an XLSX workbook is not for the terminal: give --output FILE (or redirect the output)"));
  }
}

std::string ReportText(const std::string& format, const std::vector<ReportSheet>& sheets) {
  if (format == "csv") return ReportCsv(sheets.front());
  if (format == "xlsx") return ReportXlsx(sheets, std::chrono::system_clock::now());
  std::string text;
  for (const ReportSheet& sheet : sheets) {
    if (!text.empty()) text += '\n';
    text += ReportTable(sheet);
  }
  return text;
}

void WriteReportOutput(CommandEnvironment& env, const std::string& output, const std::string& text,
                       const PeriodState& state) {
  const std::string notice = IncompleteDaysNotice(state);
  if (!notice.empty()) env.GetDiagnostics().Info(notice.substr(0, notice.size() - 1));
  if (output.empty()) {
    env.Out() << text;
    return;
  }
  const std::filesystem::path path = env.StartDirectory() / output;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) throw CannotRunError(TrFormat("cannot write {}", path.string()));
}

ReportSummary ReadDaySummary(const ConnectionSettings& connection, std::chrono::year_month_day day) {
  ReportDatabase db;
  OpenReadingSession(db, connection);
  return ReadReportSummary(db, day);
}

std::vector<ReportSheet> ReadReportSheets(const ConnectionSettings& connection,
                                          const std::vector<ReportQuery>& queries) {
  ReportDatabase db;
  OpenReadingSession(db, connection);
  std::vector<ReportSheet> sheets;
  for (const ReportQuery& query : queries) {
    sheets.push_back({DayKeyText(query.day), query.to ? DayKeyText(*query.to) : std::string(), query.kind,
                      ReadReportRows(db, query), ChosenBy(query)});
  }
  return sheets;
}

void ReportCommand::AddArguments(CLI::App& command) {
  command.add_option("DAYKEY", dayKey_, Tr("The day as yyyy-mm-dd or yyyymmdd (or give --from and --to)"))
      ->type_name("yyyy-mm-dd");
  command.add_option("--from", from_, Tr("The first day of a period"))->type_name("yyyy-mm-dd");
  command.add_option("--to", to_, Tr("The last day of a period"))->type_name("yyyy-mm-dd");
  command.add_option("--kind", kind_,
                     Tr("mileage, speeding, parking, fatigue, lostcontact, linealarms or quality (default: every kind)"))
      ->type_name("KIND");
  command.add_option("--vehicle", vehicle_, Tr("Only this vehicle's rows (its SIMID)"))->type_name("SIMID");
  command.add_option("--filter", filter_, Tr("Only rows whose SIMID, licence plate or fleet holds this text"))
      ->type_name("TEXT");
  command.add_option("--sort", sort_, Tr("Order the rows by this column (default: SIMID, then time)"))
      ->type_name("COLUMN");
  command.add_flag("--descending", descending_, Tr("With --sort: largest first"));
  command.add_flag("--flagged", flagged_, Tr("Quality: only vehicles with a count above 0 besides fixes"));
  command.add_option("--format", format_, Tr("table (default), csv, json or xlsx"))->type_name("FORMAT");
  command.add_option("--output", output_, Tr("Write to this file instead of the standard output"))
      ->type_name("FILE");
}

void ReportCommand::FromJson(const nlohmann::json& arguments) {
  RequireJsonObject(arguments);
  dayKey_.clear();
  from_.clear();
  to_.clear();
  kind_.clear();
  vehicle_.clear();
  format_ = "table";
  output_.clear();
  filter_.clear();
  sort_.clear();
  descending_ = false;
  flagged_ = false;
  JsonText(arguments, "day", dayKey_);
  JsonText(arguments, "from", from_);
  JsonText(arguments, "to", to_);
  JsonText(arguments, "filter", filter_);
  JsonText(arguments, "sort", sort_);
  if (arguments.contains("descending")) {
    if (!arguments["descending"].is_boolean()) throw ArgumentError(Tr("descending is true or false"));
    descending_ = arguments["descending"].get<bool>();
  }
  if (arguments.contains("flagged")) {
    if (!arguments["flagged"].is_boolean()) throw ArgumentError(Tr("flagged is true or false"));
    flagged_ = arguments["flagged"].get<bool>();
  }
  JsonText(arguments, "kind", kind_);
  JsonText(arguments, "vehicle", vehicle_);
  JsonText(arguments, "format", format_);
  JsonText(arguments, "output", output_);
}

void ReportCommand::Setup() {
  period_ = ReadReportPeriod(dayKey_, from_, to_);
  kinds_.clear();
  if (kind_.empty()) {
    kinds_ = AllReportKinds();
  } else if (auto kind = ParseReportKind(kind_)) {
    kinds_.push_back(*kind);
  } else {
    throw ArgumentError(TrFormat("{}, not \"{}\"", ReportKindChoice(), kind_));
  }
  RequireReportFormat(format_);
  if (format_ == "csv" && kind_.empty()) throw ArgumentError(Tr("a CSV file holds one kind: give --kind"));
  for (ReportKind kind : kinds_) {
    const std::vector<std::string> columns = ReportColumns(kind);
    if (!sort_.empty() && std::find(columns.begin(), columns.end(), sort_) == columns.end()) {
      throw ArgumentError(TrFormat("{} rows have no column {}", ReportKindName(kind), sort_));
    }
  }
}

void ReportCommand::Run(CommandEnvironment& env) {
  RefuseWorkbookOnTerminal(env, format_, output_);
  std::vector<ReportQuery> queries;
  for (ReportKind kind : kinds_) {
    ReportQuery query;
    query.day = period_.from;
    if (!period_.IsDay()) query.to = period_.to;
    query.kind = kind;
    query.simId = vehicle_;
    query.filter = filter_;
    query.sortColumn = sort_;
    query.descending = descending_;
    query.flaggedOnly = flagged_;
    queries.push_back(std::move(query));
  }
  const PeriodState state = ReadPeriodState(env.Connection(), period_, ReadCatchUpSettings(env.Settings()).retryLimit);
  const std::vector<ReportSheet> sheets = ReadReportSheets(env.Connection(), queries);

  std::string text;
  if (format_ == "json") {
    nlohmann::json json = nlohmann::json::array();
    for (const ReportSheet& sheet : sheets) {
      json.push_back(ReportJson(sheet));
      AddPeriodState(json.back(), state);
    }
    if (!kind_.empty()) json = json.front();
    text = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
  } else {
    text = ReportText(format_, sheets);
  }
  WriteReportOutput(env, output_, text, state);
}

}  // namespace cuserver
