#include "app/command_summary.hpp"

#include <algorithm>
#include <cmath>

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <nlohmann/json.hpp>

#include "app/command_report.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "app/service/schedule.hpp"
#include "reports/translate.hpp"
#include "run/day_key.hpp"

namespace cuserver {
namespace {

// The figures of a row by their answer's names: days, the counts, vehicles.
std::vector<std::pair<std::string_view, double>> Figures(const SummaryFigures& f) {
  std::vector<std::pair<std::string_view, double>> figures{{"days", static_cast<double>(f.days)}};
  for (const auto& count : SummaryCounts(f)) figures.push_back(count);
  figures.emplace_back("vehicles", static_cast<double>(f.vehicles));
  return figures;
}

nlohmann::json FiguresJson(const SummaryFigures& figures, bool vehicles) {
  nlohmann::json json = nlohmann::json::object();
  for (const auto& [name, value] : Figures(figures)) {
    if (name == "vehicles" && !vehicles) continue;
    if (name == "kilometres") {
      json[std::string(name)] = value;
    } else {
      json[std::string(name)] = static_cast<std::int64_t>(value);
    }
  }
  return json;
}

std::string PerText(SummaryPer per) {
  switch (per) {
    case SummaryPer::Vehicle: return "按车辆";
    case SummaryPer::Day: return "按日";
    case SummaryPer::Fleet: return "按车队";
  }
  return {};
}

}  // namespace

PeriodSummary ReadSummary(const ConnectionSettings& connection, const SummaryQuery& query) {
  ReportDatabase db;
  OpenReadingSession(db, connection);
  return ReadPeriodSummary(db, query);
}

void SortSummaryRows(std::vector<SummaryRow>& rows, const std::string& field, bool descending) {
  if (field.empty()) return;
  const auto names = Figures({});
  const auto found = std::find_if(names.begin(), names.end(), [&](const auto& named) { return named.first == field; });
  const std::vector<std::string_view> texts{"simId", "licensePlate", "fleet", "day"};
  const auto text = std::find(texts.begin(), texts.end(), field);
  if (found == names.end() && text == texts.end()) {
    std::vector<std::string_view> all(texts.begin(), texts.end());
    for (const auto& named : names) all.push_back(named.first);
    throw ArgumentError(TrFormat("the sort column is one of {}, not \"{}\"", fmt::join(all, Tr(", ")), field));
  }
  // Each row's key once, then the rows in its order; ties keep their order.
  using Key = std::pair<double, std::string_view>;
  std::vector<std::pair<Key, std::size_t>> keys;
  keys.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const SummaryRow& row = rows[i];
    const std::string_view byText[] = {row.simId, row.licensePlate, row.fleet, row.day};
    keys.push_back({text != texts.end() ? Key{0, byText[text - texts.begin()]}
                                        : Key{Figures(row.figures)[found - names.begin()].second, {}},
                    i});
  }
  std::stable_sort(keys.begin(), keys.end(),
                   [descending](const auto& a, const auto& b) { return descending ? b.first < a.first : a.first < b.first; });
  std::vector<SummaryRow> sorted;
  sorted.reserve(rows.size());
  for (const auto& [key, i] : keys) sorted.push_back(std::move(rows[i]));
  rows = std::move(sorted);
}

nlohmann::json SummaryRowJson(const SummaryRow& row, SummaryPer per) {
  nlohmann::json json;
  switch (per) {
    case SummaryPer::Vehicle: json = {{"simId", row.simId}, {"licensePlate", row.licensePlate}, {"fleet", row.fleet}}; break;
    case SummaryPer::Day: json = {{"day", row.day}}; break;
    case SummaryPer::Fleet: json = {{"fleet", row.fleet}}; break;
  }
  json.update(FiguresJson(row.figures, per != SummaryPer::Vehicle));
  return json;
}

nlohmann::json SummaryJson(const SummaryQuery& query, const PeriodSummary& summary) {
  nlohmann::json rows = nlohmann::json::array();
  for (const SummaryRow& row : summary.rows) rows.push_back(SummaryRowJson(row, query.per));
  return {{"from", DayKeyText(query.from)},
          {"to", DayKeyText(query.to)},
          {"per", SummaryPerName(query.per)},
          {"total", summary.rows.size()},
          {"rows", std::move(rows)},
          {"totals", FiguresJson(summary.totals, true)}};
}

ReportSheet SummarySheet(const SummaryQuery& query, const PeriodSummary& summary) {
  ReportSheet sheet;
  sheet.day = DayKeyText(query.from);
  sheet.to = DayKeyText(query.to);
  sheet.kind = ReportKind::Summary;
  sheet.page.columns = SummaryColumns(query);
  for (const SummaryRow& row : summary.rows) sheet.page.rows.push_back(SummaryRowValues(row, query));
  sheet.page.total = summary.rows.size();
  std::vector<std::string> chosen{PerText(query.per)};
  if (!query.simId.empty()) chosen.push_back(fmt::format("车辆 {}", query.simId));
  if (!query.filter.empty()) chosen.push_back(fmt::format("筛选“{}”", query.filter));
  sheet.chosenBy = fmt::format("{}", fmt::join(chosen, "，"));
  return sheet;
}

void SummaryCommand::AddArguments(CLI::App& command) {
  command.add_option("--from", from_, Tr("The period's first day, as yyyy-mm-dd or yyyymmdd"))
      ->type_name("yyyy-mm-dd")
      ->required();
  command.add_option("--to", to_, Tr("The period's last day"))->type_name("yyyy-mm-dd")->required();
  command.add_option("--per", per_, Tr("One row per vehicle (default), day or fleet"))->type_name("vehicle|day|fleet");
  command.add_option("--kind", kindNames_, Tr("Also list this kind's rows over the period (again for more kinds)"))
      ->type_name("KIND")
      ->delimiter(',');
  command.add_option("--vehicle", vehicle_, Tr("Only this vehicle (its SIMID)"))->type_name("SIMID");
  command.add_option("--filter", filter_,
                     Tr("Only vehicles whose SIMID, licence plate or fleet holds one of these terms (apart by spaces or "
                        "commas)"))
      ->type_name("TEXT");
  command.add_option("--format", format_, Tr("table (default), csv, json or xlsx"))->type_name("FORMAT");
  command.add_option("--output", output_, Tr("Write to this file instead of the standard output"))->type_name("FILE");
}

void SummaryCommand::FromJson(const nlohmann::json& arguments) {
  RequireJsonObject(arguments);
  *this = SummaryCommand();
  JsonText(arguments, "from", from_);
  JsonText(arguments, "to", to_);
  JsonText(arguments, "per", per_);
  std::string kinds;
  JsonText(arguments, "kind", kinds);
  for (std::size_t at = 0; !kinds.empty() && at <= kinds.size();) {
    const std::size_t comma = std::min(kinds.find(',', at), kinds.size());
    kindNames_.push_back(kinds.substr(at, comma - at));
    at = comma + 1;
  }
  JsonText(arguments, "vehicle", vehicle_);
  JsonText(arguments, "filter", filter_);
  JsonText(arguments, "format", format_);
  JsonText(arguments, "output", output_);
}

void SummaryCommand::Setup() {
  const ReportPeriod period = ReadReportPeriod({}, from_, to_);
  query_ = {period.from, period.to, SummaryPer::Vehicle, vehicle_, filter_};
  const auto per = ParseSummaryPer(per_);
  if (!per) throw ArgumentError(TrFormat("--per is vehicle, day or fleet, not \"{}\"", per_));
  query_.per = *per;
  kinds_.clear();
  for (const std::string& name : kindNames_) {
    const auto kind = ParseReportKind(name);
    if (!kind) throw ArgumentError(TrFormat("{}, not \"{}\"", ReportKindChoice(), name));
    kinds_.push_back(*kind);
  }
  RequireReportFormat(format_);
  if (format_ == "csv" && !kinds_.empty()) throw ArgumentError(Tr("a CSV file holds one sheet: leave out --kind"));
}

void SummaryCommand::Run(CommandEnvironment& env) {
  RefuseWorkbookOnTerminal(env, format_, output_);
  const PeriodState state =
      ReadPeriodState(env.Connection(), {query_.from, query_.to}, ReadCatchUpSettings(env.Settings()).retryLimit);
  const PeriodSummary summary = ReadSummary(env.Connection(), query_);
  std::vector<ReportSheet> sheets{SummarySheet(query_, summary)};
  std::vector<ReportQuery> queries;
  for (ReportKind kind : kinds_) {
    ReportQuery rows;
    rows.day = query_.from;
    rows.to = query_.to;
    rows.kind = kind;
    rows.simId = query_.simId;
    rows.filter = query_.filter;
    queries.push_back(std::move(rows));
  }
  for (ReportSheet& sheet : ReadReportSheets(env.Connection(), queries)) sheets.push_back(std::move(sheet));

  std::string text;
  if (format_ == "json") {
    nlohmann::json json = SummaryJson(query_, summary);
    AddPeriodState(json, state);
    for (std::size_t i = 1; i < sheets.size(); ++i) json["reports"].push_back(ReportJson(sheets[i]));
    text = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
  } else {
    text = ReportText(format_, sheets);
  }
  WriteReportOutput(env, output_, text, state);
}

}  // namespace cuserver
