#include "app/service/report_routes.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <nlohmann/json.hpp>

#include "app/command_report.hpp"
#include "app/command_summary.hpp"
#include "app/report_period.hpp"
#include "app/day_arguments.hpp"
#include "app/errors.hpp"
#include "app/service/api_answer.hpp"
#include "reports/translate.hpp"
#include "run/day_key.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

constexpr std::string_view kJsonPath = "/api/reports";
constexpr std::string_view kSummaryPath = "/api/summary";
constexpr std::string_view kXlsxType = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";

std::optional<std::size_t> Count(const HttpRequest& request, const std::string& name) {
  const std::string text = request.Param(name);
  if (text.empty()) return std::nullopt;
  std::size_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw ArgumentError(fmt::format("{} 应为从 0 起的整数，而不是“{}”", name, text));
  }
  return value;
}

ReportPeriod PeriodOf(const HttpRequest& request) {
  return ReadReportPeriod(request.Param("day"), request.Param("from"), request.Param("to"));
}

ReportQuery QueryOf(const HttpRequest& request, bool file) {
  ReportQuery query;
  const ReportPeriod period = PeriodOf(request);
  query.day = period.from;
  if (!period.IsDay()) query.to = period.to;
  const std::string kind = request.Param("kind");
  const auto parsed = ParseReportKind(kind);
  if (!parsed) throw ArgumentError(TrFormat("{}, not \"{}\"", ReportKindChoice(), kind));
  query.kind = *parsed;
  query.simId = request.Param("vehicle");
  query.offset = Count(request, "offset").value_or(0);
  query.limit = Count(request, "limit");
  if (!file && !query.limit) query.limit = kDefaultReportPageRows;
  query.filter = request.Param("filter");
  query.sortColumn = request.Param("sort");
  const std::vector<std::string> columns = ReportColumns(query.kind);
  if (!query.sortColumn.empty() && std::find(columns.begin(), columns.end(), query.sortColumn) == columns.end()) {
    throw ArgumentError(
        fmt::format("排序列应为 {} 之一，而不是“{}”", fmt::join(columns, "、"), query.sortColumn));
  }
  const std::string order = request.Param("order");
  if (!order.empty() && order != "asc" && order != "desc") {
    throw ArgumentError(fmt::format("排序方向应为 asc 或 desc，而不是“{}”", order));
  }
  query.descending = order == "desc";
  const std::string flagged = request.Param("flagged");
  if (!flagged.empty() && flagged != "0" && flagged != "1") {
    throw ArgumentError(fmt::format("flagged 应为 0 或 1，而不是“{}”", flagged));
  }
  query.flaggedOnly = flagged == "1";
  return query;
}

// A file of the sheets as an attachment: ".csv" (the first sheet) or ".xlsx".
void AnswerFile(HttpResponse& response, std::string_view extension, const std::vector<ReportSheet>& sheets) {
  const bool csv = extension == ".csv";
  response.SetHeader("Content-Disposition",
                     fmt::format("attachment; filename=\"{}{}\"", ReportFileStem(sheets.front()), extension));
  response.SetContent(csv ? ReportCsv(sheets.front()) : ReportXlsx(sheets, std::chrono::system_clock::now()),
                      csv ? "text/csv; charset=utf-8" : std::string(kXlsxType));
}

void AnswerPeriodSummary(const ConnectionSettings& connection, const PeriodState& state, const ReportPeriod& period,
                         const HttpRequest& request, HttpResponse& response, std::string_view extension) {
  SummaryQuery query{period.from, period.to, SummaryPer::Vehicle, request.Param("vehicle"), request.Param("filter")};
  if (const std::string per = request.Param("per"); !per.empty()) {
    const auto parsed = ParseSummaryPer(per);
    if (!parsed) throw ArgumentError(fmt::format("per 应为 vehicle、day 或 fleet，而不是“{}”", per));
    query.per = *parsed;
  }
  const std::string order = request.Param("order");
  if (!order.empty() && order != "asc" && order != "desc") {
    throw ArgumentError(fmt::format("排序方向应为 asc 或 desc，而不是“{}”", order));
  }
  PeriodSummary summary = ReadSummary(connection, query);
  SortSummaryRows(summary.rows, request.Param("sort"), order == "desc");
  if (!extension.empty()) return AnswerFile(response, extension, {SummarySheet(query, summary)});
  const std::size_t total = summary.rows.size();
  const std::size_t offset = std::min(Count(request, "offset").value_or(0), total);
  const std::size_t limit = Count(request, "limit").value_or(kDefaultReportPageRows);
  summary.rows.erase(summary.rows.begin(), summary.rows.begin() + static_cast<std::ptrdiff_t>(offset));
  if (summary.rows.size() > limit) summary.rows.resize(limit);
  nlohmann::json json = SummaryJson(query, summary);
  json["total"] = total;
  AddPeriodState(json, state);
  AnswerJson(response, 200, json);
}

}  // namespace

void AnswerReports(const ConnectionSettings& connection, int retryLimit, const HttpRequest& request,
                   HttpResponse& response) {
  response.SetHeader("Cache-Control", "no-store");
  const std::string_view extension = std::string_view(request.path).substr(kJsonPath.size());
  try {
    const ReportQuery query = QueryOf(request, !extension.empty());
    const ReportSheet sheet = std::move(ReadReportSheets(connection, {query}).front());
    if (!extension.empty()) return AnswerFile(response, extension, {sheet});
    nlohmann::json json = ReportJson(sheet);
    AddPeriodState(json, ReadPeriodState(connection, {query.day, query.to.value_or(query.day)}, retryLimit));
    AnswerJson(response, 200, json);
  } catch (...) {
    AnswerFailure(response);
  }
}

void AnswerSummary(const ConnectionSettings& connection, int retryLimit, const HttpRequest& request,
                   HttpResponse& response) {
  response.SetHeader("Cache-Control", "no-store");
  const std::string_view extension = std::string_view(request.path).substr(kSummaryPath.size());
  try {
    const ReportPeriod period = PeriodOf(request);
    const PeriodState state = ReadPeriodState(connection, period, retryLimit);
    if (!request.Param("from").empty() || !extension.empty()) {
      return AnswerPeriodSummary(connection, state, period, request, response, extension);
    }
    const std::chrono::year_month_day day = period.from;
    const ReportSummary summary = ReadDaySummary(connection, day);
    nlohmann::json kinds = nlohmann::json::object();
    std::size_t speeding = 0;
    std::size_t stops = 0;
    for (const auto& [kind, rows] : summary.rows) {
      kinds[std::string(ReportKindName(kind))] = rows;
      if (kind == ReportKind::Speeding) speeding = rows;
      if (kind == ReportKind::Parking) stops = rows;
    }
    nlohmann::json json{{"day", DayKeyText(day)},
                        {"kinds", std::move(kinds)},
                        {"vehicles", summary.vehicles},
                        {"kilometres", std::round(summary.kilometres * 100) / 100},
                        {"speedingEpisodes", speeding},
                        {"stops", stops}};
    AddPeriodState(json, state);
    AnswerJson(response, 200, json);
  } catch (...) {
    AnswerFailure(response);
  }
}

}  // namespace cuserver
