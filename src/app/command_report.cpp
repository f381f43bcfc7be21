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
#include "run/caption.hpp"
#include "run/day_key.hpp"
#include "run/run_session.hpp"

namespace cuserver {

namespace {

void OpenReadingSession(ReportDatabase& db, const ConnectionSettings& connection) {
  SilentCaption caption;
  ConnectionSettings readOnly = connection;
  readOnly.writesSqliteFile = false;
  OpenRunSession(db, readOnly, caption);
}

// What a sheet's title says the rows were chosen by.
std::string ChosenBy(const ReportQuery& query) {
  std::vector<std::string> parts;
  if (!query.simId.empty()) parts.push_back(fmt::format("车辆 {}", query.simId));
  if (!query.filter.empty()) parts.push_back(fmt::format("筛选“{}”", query.filter));
  if (query.flaggedOnly && query.kind == ReportKind::Quality) parts.emplace_back("只列数据有问题的车辆");
  return fmt::format("{}", fmt::join(parts, "，"));
}

}  // namespace

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
    sheets.push_back({DayKeyText(query.day), query.kind, ReadReportRows(db, query), ChosenBy(query)});
  }
  return sheets;
}

void ReportCommand::AddArguments(CLI::App& command) {
  command.add_option("DAYKEY", dayKey_, "The day as yyyy-mm-dd or yyyymmdd")->type_name("yyyy-mm-dd")->required();
  command.add_option("--kind", kind_,
                     "mileage, speeding, parking, fatigue, lostcontact, linealarms or quality (default: every kind)")
      ->type_name("KIND");
  command.add_option("--vehicle", vehicle_, "Only this vehicle's rows (its SIMID)")->type_name("SIMID");
  command.add_option("--filter", filter_, "Only rows whose SIMID, licence plate or fleet holds this text")
      ->type_name("TEXT");
  command.add_option("--sort", sort_, "Order the rows by this column (default: SIMID, then time)")
      ->type_name("COLUMN");
  command.add_flag("--descending", descending_, "With --sort: largest first");
  command.add_flag("--flagged", flagged_, "Quality: only vehicles with a count above 0 besides fixes");
  command.add_option("--format", format_, "table (default), csv, json or xlsx")->type_name("FORMAT");
  command.add_option("--output", output_, "Write to this file instead of the standard output")
      ->type_name("FILE");
}

void ReportCommand::FromJson(const nlohmann::json& arguments) {
  RequireJsonObject(arguments);
  dayKey_.clear();
  kind_.clear();
  vehicle_.clear();
  format_ = "table";
  output_.clear();
  filter_.clear();
  sort_.clear();
  descending_ = false;
  flagged_ = false;
  JsonText(arguments, "day", dayKey_);
  JsonText(arguments, "filter", filter_);
  JsonText(arguments, "sort", sort_);
  if (arguments.contains("descending")) {
    if (!arguments["descending"].is_boolean()) throw ArgumentError("descending is true or false");
    descending_ = arguments["descending"].get<bool>();
  }
  if (arguments.contains("flagged")) {
    if (!arguments["flagged"].is_boolean()) throw ArgumentError("flagged is true or false");
    flagged_ = arguments["flagged"].get<bool>();
  }
  JsonText(arguments, "kind", kind_);
  JsonText(arguments, "vehicle", vehicle_);
  JsonText(arguments, "format", format_);
  JsonText(arguments, "output", output_);
}

void ReportCommand::Setup() {
  day_ = ReadableDay(dayKey_);
  kinds_.clear();
  if (kind_.empty()) {
    kinds_ = AllReportKinds();
  } else if (auto kind = ParseReportKind(kind_)) {
    kinds_.push_back(*kind);
  } else {
    throw ArgumentError(fmt::format(
        "the kind is one of mileage, speeding, parking, fatigue, lostcontact, linealarms, quality, not \"{}\"", kind_));
  }
  if (format_ != "table" && format_ != "csv" && format_ != "json" && format_ != "xlsx") {
    throw ArgumentError(fmt::format("the format is table, csv, json or xlsx, not \"{}\"", format_));
  }
  if (format_ == "csv" && kind_.empty()) throw ArgumentError("a CSV file holds one kind: give --kind");
  for (ReportKind kind : kinds_) {
    const std::vector<std::string> columns = ReportColumns(kind);
    if (!sort_.empty() && std::find(columns.begin(), columns.end(), sort_) == columns.end()) {
      throw ArgumentError(fmt::format("{} rows have no column {}", ReportKindName(kind), sort_));
    }
  }
}

void ReportCommand::Run(CommandEnvironment& env) {
  if (format_ == "xlsx" && output_.empty() && &env.Out() == &std::cout && ::isatty(STDOUT_FILENO) == 1) {
    throw ArgumentError("an XLSX workbook is not for the terminal: give --output FILE (or redirect the output)");
  }
  std::vector<ReportQuery> queries;
  for (ReportKind kind : kinds_) {
    ReportQuery query;
    query.day = day_;
    query.kind = kind;
    query.simId = vehicle_;
    query.filter = filter_;
    query.sortColumn = sort_;
    query.descending = descending_;
    query.flaggedOnly = flagged_;
    queries.push_back(std::move(query));
  }
  const std::vector<ReportSheet> sheets = ReadReportSheets(env.Connection(), queries);

  std::string text;
  if (format_ == "csv") {
    text = ReportCsv(sheets.front());
  } else if (format_ == "xlsx") {
    text = ReportXlsx(sheets, std::chrono::system_clock::now());
  } else if (format_ == "json") {
    nlohmann::json json = nlohmann::json::array();
    for (const ReportSheet& sheet : sheets) json.push_back(ReportJson(sheet));
    if (!kind_.empty()) json = json.front();
    text = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
  } else {
    for (const ReportSheet& sheet : sheets) {
      if (!text.empty()) text += '\n';
      text += ReportTable(sheet);
    }
  }

  if (output_.empty()) {
    env.Out() << text;
    return;
  }
  const std::filesystem::path path = env.StartDirectory() / output_;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) throw CannotRunError(fmt::format("cannot write {}", path.string()));
}

}  // namespace cuserver
