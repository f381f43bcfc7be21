#include "app/service/report_routes.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <nlohmann/json.hpp>

#include "app/command_report.hpp"
#include "app/day_arguments.hpp"
#include "app/errors.hpp"
#include "app/service/api_answer.hpp"
#include "run/day_key.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

constexpr std::string_view kJsonPath = "/api/reports";

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

std::chrono::year_month_day DayOf(const HttpRequest& request) {
  return ReadableDay(request.Param("day"));
}

ReportQuery QueryOf(const HttpRequest& request, bool file) {
  ReportQuery query;
  query.day = DayOf(request);
  const std::string kind = request.Param("kind");
  const auto parsed = ParseReportKind(kind);
  if (!parsed) {
    throw ArgumentError(fmt::format(
        "报表类型应为 mileage、speeding、parking、fatigue、lostcontact、linealarms、quality 之一，而不是“{}”", kind));
  }
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

}  // namespace

void AnswerReports(const ConnectionSettings& connection, const HttpRequest& request, HttpResponse& response) {
  response.SetHeader("Cache-Control", "no-store");
  const std::string_view extension = std::string_view(request.path).substr(kJsonPath.size());
  try {
    const ReportQuery query = QueryOf(request, !extension.empty());
    const ReportSheet sheet = std::move(ReadReportSheets(connection, {query}).front());
    if (extension.empty()) return AnswerJson(response, 200, ReportJson(sheet));
    const bool csv = extension == ".csv";
    response.SetHeader("Content-Disposition",
                       fmt::format("attachment; filename=\"{}{}\"", ReportFileStem(sheet), extension));
    response.SetContent(csv ? ReportCsv(sheet) : ReportXlsx({sheet}, std::chrono::system_clock::now()),
                        csv ? "text/csv; charset=utf-8"
                            : "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");
  } catch (...) {
    AnswerFailure(response);
  }
}

void AnswerSummary(const ConnectionSettings& connection, const HttpRequest& request, HttpResponse& response) {
  response.SetHeader("Cache-Control", "no-store");
  try {
    const std::chrono::year_month_day day = DayOf(request);
    const ReportSummary summary = ReadDaySummary(connection, day);
    nlohmann::json kinds = nlohmann::json::object();
    std::size_t speeding = 0;
    std::size_t stops = 0;
    for (const auto& [kind, rows] : summary.rows) {
      kinds[std::string(ReportKindName(kind))] = rows;
      if (kind == ReportKind::Speeding) speeding = rows;
      if (kind == ReportKind::Parking) stops = rows;
    }
    AnswerJson(response, 200,
               {{"day", DayKeyText(day)},
                {"kinds", std::move(kinds)},
                {"vehicles", summary.vehicles},
                {"kilometres", std::round(summary.kilometres * 100) / 100},
                {"speedingEpisodes", speeding},
                {"stops", stops}});
  } catch (...) {
    AnswerFailure(response);
  }
}

}  // namespace cuserver
