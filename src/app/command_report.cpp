#include "app/command_report.hpp"

#include <fstream>

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "run/caption.hpp"
#include "run/day_key.hpp"
#include "run/run_session.hpp"

namespace cuserver {

std::vector<ReportSheet> ReadReportSheets(const ConnectionSettings& connection,
                                          const std::vector<ReportQuery>& queries) {
  ReportDatabase db;
  SilentCaption caption;
  ConnectionSettings readOnly = connection;
  readOnly.writesSqliteFile = false;
  OpenRunSession(db, readOnly, caption);
  std::vector<ReportSheet> sheets;
  for (const ReportQuery& query : queries) {
    sheets.push_back({DayKeyText(query.day), query.kind, ReadReportRows(db, query)});
  }
  return sheets;
}

void ReportCommand::AddArguments(CLI::App& command) {
  command.add_option("DAYKEY", dayKey_, "The day as yyyymmdd")->required();
  command.add_option("--kind", kind_,
                     "mileage, speeding, parking, fatigue, lostcontact or linealarms (default: every kind)");
  command.add_option("--vehicle", vehicle_, "Only this vehicle's rows (its SIMID)");
  command.add_option("--format", format_, "table (default), csv, json or xlsx");
  command.add_option("--output", output_, "Write to this file instead of the standard output");
}

void ReportCommand::FromJson(const nlohmann::json& arguments) {
  RequireJsonObject(arguments);
  dayKey_.clear();
  kind_.clear();
  vehicle_.clear();
  format_ = "table";
  output_.clear();
  JsonText(arguments, "day", dayKey_);
  JsonText(arguments, "kind", kind_);
  JsonText(arguments, "vehicle", vehicle_);
  JsonText(arguments, "format", format_);
  JsonText(arguments, "output", output_);
}

void ReportCommand::Setup() {
  if (!ParseDayKey(dayKey_, day_)) throw ArgumentError(fmt::format("the day is a real date yyyymmdd, not \"{}\"", dayKey_));
  kinds_.clear();
  if (kind_.empty()) {
    kinds_ = AllReportKinds();
  } else if (auto kind = ParseReportKind(kind_)) {
    kinds_.push_back(*kind);
  } else {
    throw ArgumentError(fmt::format(
        "the kind is one of mileage, speeding, parking, fatigue, lostcontact, linealarms, not \"{}\"", kind_));
  }
  if (format_ != "table" && format_ != "csv" && format_ != "json" && format_ != "xlsx") {
    throw ArgumentError(fmt::format("the format is table, csv, json or xlsx, not \"{}\"", format_));
  }
  if (format_ == "csv" && kind_.empty()) throw ArgumentError("a CSV file holds one kind: give --kind");
}

void ReportCommand::Run(CommandEnvironment& env) {
  std::vector<ReportQuery> queries;
  for (ReportKind kind : kinds_) queries.push_back({day_, kind, vehicle_, 0, std::nullopt});
  const std::vector<ReportSheet> sheets = ReadReportSheets(env.Connection(), queries);

  std::string text;
  if (format_ == "csv") {
    text = ReportCsv(sheets.front().page);
  } else if (format_ == "xlsx") {
    text = ReportXlsx(sheets);
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
