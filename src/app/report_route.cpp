#include "app/report_route.hpp"

#include <charconv>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/command_report.hpp"
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
    throw ArgumentError(fmt::format("{} is a whole number from 0 up, not \"{}\"", name, text));
  }
  return value;
}

ReportQuery QueryOf(const HttpRequest& request, bool file) {
  ReportQuery query;
  const std::string day = request.Param("day");
  if (!ParseDayKey(day, query.day)) throw ArgumentError(fmt::format("day is a real date yyyymmdd, not \"{}\"", day));
  const std::string kind = request.Param("kind");
  const auto parsed = ParseReportKind(kind);
  if (!parsed) {
    throw ArgumentError(fmt::format(
        "kind is one of mileage, speeding, parking, fatigue, lostcontact, linealarms, not \"{}\"", kind));
  }
  query.kind = *parsed;
  query.simId = request.Param("vehicle");
  query.offset = Count(request, "offset").value_or(0);
  query.limit = Count(request, "limit");
  if (!file && !query.limit) query.limit = kDefaultReportPageRows;
  return query;
}

}  // namespace

bool IsReportPath(std::string_view path) {
  if (!path.starts_with(kJsonPath)) return false;
  const std::string_view rest = path.substr(kJsonPath.size());
  return rest.empty() || rest == ".csv" || rest == ".xlsx";
}

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
    response.SetContent(csv ? ReportCsv(sheet.page) : ReportXlsx({sheet}),
                        csv ? "text/csv; charset=utf-8"
                            : "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");
  } catch (...) {
    AnswerFailure(response);
  }
}

}  // namespace cuserver
