#include "app/service/control_server.hpp"

#include <algorithm>
#include <array>

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "app/command_days.hpp"
#include "app/errors.hpp"
#include "app/service/api_answer.hpp"
#include "app/report_route.hpp"
#include "app/service/control_page.hpp"
#include "app/service/ledger_metrics.hpp"
#include "app/service/metrics.hpp"
#include "app/service/queue_track_routes.hpp"
#include "app/service/service.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

constexpr std::array<std::string_view, 4> kCommands = {"run-day", "run-days", "import-roads", "line-alarms"};
constexpr std::array<std::string_view, 8> kReadRoutes = {"/",         "/index.html", "/api/status", "/api/layers",
                                                         "/api/days", "/metrics",    "/api/track",  kSummaryPath};
constexpr std::string_view kQueuePrefix = "/api/queue/";

// The command a path asks for, empty when it names none.
std::string_view CommandOf(std::string_view path) {
  if (!path.starts_with("/api/")) return {};
  const std::string_view name = path.substr(5);
  for (std::string_view command : kCommands) {
    if (name == command) return command;
  }
  return {};
}

bool IsReadRoute(std::string_view path) {
  return std::find(kReadRoutes.begin(), kReadRoutes.end(), path) != kReadRoutes.end();
}

// The routes that may wait for the database (or copy the whole geoset) run on
// handler threads of their own, so that the page and its status never wait
// behind them.
HandlerLane LaneOf(const HttpRequest& request) {
  const bool slow = request.path == "/metrics" || request.path == "/api/days" || request.path == "/api/layers" ||
                    request.path == "/api/track" || request.path == kSummaryPath ||
                    request.path.starts_with(kQueuePrefix) ||
                    (request.method == "POST" && !CommandOf(request.path).empty());
  return slow || IsReportPath(request.path) ? HandlerLane::Slow : HandlerLane::Quick;
}


void NotAllowed(HttpResponse& response, const char* allow) {
  response.SetHeader("Allow", allow);
  AnswerJson(response, 405, {{"error", fmt::format("此路径只接受 {} 请求", allow)}});
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}


// The scrape's figures: the day ledger's, read on a session of its own (left
// out when the database cannot be read), and this process's run counts.
std::string MetricsText(Service& service) {
  ServiceMetrics metrics;
  metrics.runs = service.Runs();
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
  }
  return ExpositionText(ServiceMetricFamilies(metrics));
}

}  // namespace

bool IsLoopbackHost(std::string_view host) {
  return host == "localhost" || host == "::1" || host.starts_with("127.");
}

bool IsLoopbackHostHeader(std::string_view header, int port) {
  std::string_view name = header;
  std::string_view rest;
  if (header.starts_with("[")) {
    const std::size_t close = header.find(']');
    if (close == std::string_view::npos) return false;
    name = header.substr(1, close - 1);
    rest = header.substr(close + 1);
  } else if (const std::size_t colon = header.find(':'); colon != std::string_view::npos) {
    name = header.substr(0, colon);
    rest = header.substr(colon);
  }
  if (name != "127.0.0.1" && name != "localhost" && name != "::1") return false;
  return rest.empty() || (rest.starts_with(":") && rest.substr(1) == std::to_string(port));
}

ControlServer::ControlServer(Service& service, ControlServerOptions options)
    : service_(service),
      options_(std::move(options)),
      server_(std::make_unique<HttpServer>(
          [this](const HttpRequest& request, HttpResponse& response) { Handle(request, response); }, LaneOf,
          options_.limits, [this](const std::string& address) { Refused(address); })) {}

ControlServer::~ControlServer() { Stop(); }

bool ControlServer::Admitted(const HttpRequest& request, HttpResponse& response) const {
  // Another site's page may not make a browser post to this one, nor cancel.
  if ((request.method == "POST" || request.method == "DELETE") && request.HasHeader("Origin") &&
      request.Header("Origin") != "http://" + request.Header("Host")) {
    AnswerJson(response, 403, {{"error", "拒绝来自其他网站页面的请求"}});
    return false;
  }
  if (!options_.token.empty()) {
    if (!request.path.starts_with("/api/") && request.path != "/metrics") return true;
    if (SameText(request.Header("Authorization"), "Bearer " + options_.token)) return true;
    response.SetHeader("WWW-Authenticate", "Bearer");
    AnswerJson(response, 401, {{"error", "此请求需要服务的令牌"}});
    return false;
  }
  if (!IsLoopbackHostHeader(request.Header("Host"), port_)) {
    AnswerJson(response, 403, {{"error", "控制页面只响应本机回环主机名"}});
    return false;
  }
  return true;
}

void ControlServer::Handle(const HttpRequest& request, HttpResponse& response) {
  try {
    if (!Admitted(request, response)) return;
    const std::string& path = request.path;
    if (path.starts_with(kQueuePrefix)) {
      if (request.method != "DELETE") return NotAllowed(response, "DELETE");
      return CancelQueuedRun(service_, std::string_view(path).substr(kQueuePrefix.size()), response);
    }
    const std::string_view command = CommandOf(path);
    if (!command.empty()) {
      if (request.method == "POST") return Submit(command, request, response);
      return NotAllowed(response, "POST");
    }
    if (IsReportPath(path)) {
      if (request.method != "GET" && request.method != "HEAD") return NotAllowed(response, "GET");
      return AnswerReports(service_.Connection(), request, response);
    }
    if (!IsReadRoute(path)) {
      AnswerJson(response, 404, {{"error", "没有这个页面"}});
      return;
    }
    if (request.method != "GET" && request.method != "HEAD") return NotAllowed(response, "GET");
    if (path == "/" || path == "/index.html") {
      response.SetContent(std::string(kControlPage), "text/html; charset=utf-8");
    } else if (path == "/api/status") {
      response.SetHeader("Cache-Control", "no-store");
      AnswerJson(response, 200, service_.Status());
    } else if (path == "/api/layers") {
      response.SetContent(service_.LayersGeoJson(), "application/geo+json");
    } else if (path == "/api/days") {
      Days(request, response);
    } else if (path == "/api/track") {
      AnswerDayTrack(service_, request, response);
    } else if (path == kSummaryPath) {
      AnswerSummary(service_.Connection(), request, response);
    } else {
      response.SetContent(MetricsText(service_), std::string(kMetricsContentType));
    }
  } catch (const std::exception& error) {
    response = HttpResponse{};
    AnswerJson(response, 500, {{"error", fmt::format("服务内部错误：{}", error.what())}});
  }
}

void ControlServer::Days(const HttpRequest& request, HttpResponse& response) {
  response.SetHeader("Cache-Control", "no-store");
  try {
    const DayRange range = ResolveDayRange(request.Param("from"), request.Param("to"), service_.Now().day);
    AnswerJson(response, 200,
           DayStatusesJson(ReadDayStatuses(service_.Connection(), range, service_.CatchUpRules().retryLimit)));
  } catch (...) {
    AnswerFailure(response);
  }
}

void ControlServer::Submit(std::string_view command, const HttpRequest& request, HttpResponse& response) {
  if (!request.Header("Content-Type").starts_with("application/json")) {
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
    const long long id = service_.Submit(command, arguments);
    AnswerJson(response, 202, {{"id", id}});
  } catch (const ArgumentError& error) {
    AnswerJson(response, 400, {{"error", error.what()}});
  } catch (const ServiceUnavailableError& error) {
    AnswerJson(response, 503, {{"error", error.what()}});
  }
}

void ControlServer::Refused(const std::string& address) {
  std::lock_guard lock(refusalsMutex_);
  ++refusedSinceLine_;
  const auto now = std::chrono::steady_clock::now();
  if (lastRefusalLine_ && now - *lastRefusalLine_ < std::chrono::minutes{1}) return;
  service_.Log().Warning(fmt::format(
      "control page: {} connection(s) refused since the last such line, the latest from {} (at most {} open from "
      "one address, {} in all)",
      refusedSinceLine_, address, options_.limits.connectionsPerAddress, options_.limits.connections));
  refusedSinceLine_ = 0;
  lastRefusalLine_ = now;
}

int ControlServer::Start() {
  const int port = server_->Listen(options_.host, options_.port);
  if (port <= 0) {
    throw CannotRunError(fmt::format("cannot listen on {}:{} (address in use or not on this machine)",
                                     options_.host, options_.port));
  }
  port_ = port;
  server_->Serve();
  return port;
}

void ControlServer::Stop() { server_->Stop(); }

std::string ControlServer::PageUrl() const {
  const bool v6 = options_.host.find(':') != std::string::npos;
  return v6 ? fmt::format("http://[{}]:{}/", options_.host, port_) : fmt::format("http://{}:{}/", options_.host, port_);
}

}  // namespace cuserver
