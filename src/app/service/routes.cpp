#include "app/service/routes.hpp"

#include <array>
#include <utility>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/command_days.hpp"
#include "app/service/api_answer.hpp"
#include "app/service/control_page.hpp"
#include "app/service/ledger_metrics.hpp"
#include "app/service/metrics.hpp"
#include "app/service/queue_track_routes.hpp"
#include "app/service/report_routes.hpp"
#include "app/service/service.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

// "application/json" in any case, with or without parameters.
bool IsJsonMediaType(std::string_view contentType) {
  constexpr std::string_view kJson = "application/json";
  std::string_view type = contentType.substr(0, contentType.find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.remove_suffix(1);
  if (type.size() != kJson.size()) return false;
  for (std::size_t i = 0; i < kJson.size(); ++i) {
    const char c = type[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kJson[i]) return false;
  }
  return true;
}

void AnswerPage(Service&, const HttpRequest&, HttpResponse& response) {
  response.SetContent(std::string(kControlPage), "text/html; charset=utf-8");
}

void AnswerStatus(Service& service, const HttpRequest&, HttpResponse& response) {
  response.SetHeader("Cache-Control", "no-store");
  AnswerJson(response, 200, service.Status());
}

void AnswerLayers(Service& service, const HttpRequest&, HttpResponse& response) {
  response.SetContent(service.LayersGeoJson(), "application/geo+json");
}

void AnswerDays(Service& service, const HttpRequest& request, HttpResponse& response) {
  response.SetHeader("Cache-Control", "no-store");
  try {
    const DayRange range = ResolveDayRange(request.Param("from"), request.Param("to"), service.Now().day);
    AnswerJson(response, 200,
               DayStatusesJson(ReadDayStatuses(service.Connection(), range, service.CatchUpRules().retryLimit)));
  } catch (...) {
    AnswerFailure(response);
  }
}

// The scrape's figures: the day ledger's, read on a session of its own (left
// out when the database cannot be read), and this process's run counts.
void AnswerMetrics(Service& service, const HttpRequest&, HttpResponse& response) {
  ServiceMetrics metrics;
  metrics.runs = service.Runs();
  metrics.tokenFailures = service.TokenFailures();
  for (JobOutcome outcome : {JobOutcome::Succeeded, JobOutcome::Failed, JobOutcome::CouldNotRun}) {
    metrics.runs.byOutcome.try_emplace(OutcomeText(outcome), 0);
  }
  try {
    ReportDatabase db;
    SilentCaption caption;
    OpenRunSession(db, service.Connection(), caption);
    ReadLedgerMetrics(db, service.CatchUpRules(), service.Now(), metrics);
  } catch (const std::exception& error) {
    // cuserver_ledger_up 0 tells the scrape; the reason goes to the service log only.
    service.Log().Debug(std::string("metrics without the day ledger: ") + error.what());
    RunStats runs = std::move(metrics.runs);
    metrics = ServiceMetrics{};
    metrics.runs = std::move(runs);
    metrics.tokenFailures = service.TokenFailures();
  }
  response.SetContent(ExpositionText(ServiceMetricFamilies(metrics)), std::string(kMetricsContentType));
}

void AnswerReportRows(Service& service, const HttpRequest& request, HttpResponse& response) {
  AnswerReports(service.Connection(), service.CatchUpRules().retryLimit, request, response);
}

void AnswerDaySummary(Service& service, const HttpRequest& request, HttpResponse& response) {
  AnswerSummary(service.Connection(), service.CatchUpRules().retryLimit, request, response);
}

void AnswerTrack(Service& service, const HttpRequest& request, HttpResponse& response) {
  AnswerDayTrack(service, request, response);
}

void AnswerCancel(Service& service, const HttpRequest& request, HttpResponse& response) {
  constexpr std::string_view kQueue = "/api/queue/";
  CancelQueuedRun(service, std::string_view(request.path).substr(kQueue.size()), response);
}

// POST /api/<command> with the command's arguments as a JSON body: the
// request's id in the ledger (202), 400 with the operator's message when
// refused, 415 without a JSON body.
void AnswerCommand(Service& service, const HttpRequest& request, HttpResponse& response) {
  if (!IsJsonMediaType(request.Header("Content-Type"))) {
    AnswerJson(response, 415, {{"error", "请以 JSON 正文发送参数（Content-Type: application/json）"}});
    return;
  }
  nlohmann::json arguments = nlohmann::json::parse(request.body, nullptr, false);
  if (request.body.find_first_not_of(" \t\r\n") == std::string::npos) arguments = nullptr;
  if (arguments.is_discarded()) {
    AnswerJson(response, 400, {{"error", "请求正文不是 JSON"}});
    return;
  }
  try {
    const std::string_view command = std::string_view(request.path).substr(std::string_view("/api/").size());
    const long long id = service.Submit(command, arguments);
    AnswerJson(response, 202, {{"id", id}});
  } catch (...) {
    AnswerFailure(response);
  }
}

using enum HandlerLane;

constexpr std::array kRoutes = {
    // the page
    Route{"GET", "/", Quick, false, AnswerPage},
    Route{"GET", "/index.html", Quick, false, AnswerPage},
    // caption, queue, last runs, messages, run log tail
    Route{"GET", "/api/status", Quick, true, AnswerStatus},
    // the geoset's layers as GeoJSON
    Route{"GET", "/api/layers", Slow, true, AnswerLayers},
    // ?from=&to= (DayKeys): the day ledger's states, as `days --json` lists them
    Route{"GET", "/api/days", Slow, true, AnswerDays},
    // Prometheus text exposition
    Route{"GET", "/metrics", Slow, true, AnswerMetrics},
    // ?day= (or ?from=&to=) &kind=[&vehicle=][&offset=&limit=]: a day's (period's) rows of one report, or files
    Route{"GET", "/api/reports", Slow, true, AnswerReportRows},
    Route{"GET", "/api/reports.csv", Slow, true, AnswerReportRows},
    Route{"GET", "/api/reports.xlsx", Slow, true, AnswerReportRows},
    // ?day=: a day's count of rows of each report, vehicles and kilometres;
    // ?from=&to=[&per=]: a period's figures per vehicle, day or fleet, or the same as files
    Route{"GET", "/api/summary", Slow, true, AnswerDaySummary},
    Route{"GET", "/api/summary.csv", Slow, true, AnswerDaySummary},
    Route{"GET", "/api/summary.xlsx", Slow, true, AnswerDaySummary},
    // ?day=&vehicle=: a vehicle's day as GeoJSON, with its speeding and stops
    Route{"GET", "/api/track", Slow, true, AnswerTrack},
    // /api/queue/ID cancels a run still waiting
    Route{"DELETE", "/api/queue/", Slow, true, AnswerCancel},
    // the operators' commands: {"day"}, {"from","to"}, {}, {"days":[...]}
    Route{"POST", "/api/run-day", Slow, true, AnswerCommand},
    Route{"POST", "/api/run-days", Slow, true, AnswerCommand},
    Route{"POST", "/api/import-roads", Slow, true, AnswerCommand},
    Route{"POST", "/api/line-alarms", Slow, true, AnswerCommand},
};

}  // namespace

std::span<const Route> Routes() { return kRoutes; }

const Route* FindRoute(std::string_view path) {
  for (const Route& route : kRoutes) {
    const bool under = route.path.ends_with('/') && route.path.size() > 1;
    if (under ? path.starts_with(route.path) : path == route.path) return &route;
  }
  return nullptr;
}

}  // namespace cuserver
