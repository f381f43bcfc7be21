#include "app/service/control_server.hpp"

#include <httplib.h>

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "app/command_days.hpp"
#include "app/errors.hpp"
#include "app/service/control_page.hpp"
#include "app/service/ledger_metrics.hpp"
#include "app/service/metrics.hpp"
#include "app/service/service.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kCommandRoutes = R"(/api/(run-day|run-days|import-roads|line-alarms))";
constexpr const char* kReadRoutes = R"(/|/index\.html|/api/status|/api/layers|/api/days|/metrics)";

std::string Dump(const nlohmann::json& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void Answer(httplib::Response& response, int status, const nlohmann::json& body) {
  response.status = status;
  response.set_content(Dump(body), kJson);
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
    : service_(service), options_(std::move(options)), server_(std::make_unique<httplib::Server>()) {
  Route();
}

ControlServer::~ControlServer() { Stop(); }

void ControlServer::Route() {
  server_->set_payload_max_length(64 * 1024);  // a command's arguments are a few bytes
  // No other service may share the port (the kernel would split the requests between them).
  server_->set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const void*>(&yes), sizeof yes);
  });
  server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    // Another site's page may not make a browser post to this one.
    if (request.method == "POST" && request.has_header("Origin") &&
        request.get_header_value("Origin") != "http://" + request.get_header_value("Host")) {
      Answer(response, 403, {{"error", "a request from another site's page is refused"}});
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!options_.token.empty()) {
      if (!request.path.starts_with("/api/") && request.path != "/metrics") {
        return httplib::Server::HandlerResponse::Unhandled;
      }
      if (SameText(request.get_header_value("Authorization"), "Bearer " + options_.token)) {
        return httplib::Server::HandlerResponse::Unhandled;
      }
      response.set_header("WWW-Authenticate", "Bearer");
      Answer(response, 401, {{"error", "this request needs the service's token"}});
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!IsLoopbackHostHeader(request.get_header_value("Host"), port_)) {
      Answer(response, 403, {{"error", "the control page answers only to a loopback host name"}});
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  auto page = [](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(kControlPage), "text/html; charset=utf-8");
  };
  server_->Get("/", page);
  server_->Get("/index.html", page);
  server_->Get("/api/status", [this](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    Answer(response, 200, service_.Status());
  });
  server_->Get("/api/layers", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(service_.LayersGeoJson(), "application/geo+json");
  });
  server_->Get("/api/days", [this](const httplib::Request& request, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    try {
      const DayRange range = ResolveDayRange(request.get_param_value("from"), request.get_param_value("to"),
                                             service_.Now().day);
      Answer(response, 200,
             DayStatusesJson(ReadDayStatuses(service_.Connection(), range, service_.CatchUpRules().retryLimit)));
    } catch (const ArgumentError& error) {
      Answer(response, 400, {{"error", error.what()}});
    } catch (const ConnectionRefusedError& error) {
      Answer(response, 503, {{"error", error.what()}});
    } catch (const DatabaseError& error) {
      Answer(response, 503, {{"error", DatabaseErrorText(error)}});
    } catch (const std::exception& error) {
      Answer(response, 500, {{"error", error.what()}});
    }
  });
  server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(MetricsText(service_), std::string(kMetricsContentType));
  });

  server_->Post(kCommandRoutes, [this](const httplib::Request& request, httplib::Response& response) {
    const std::string type = request.get_header_value("Content-Type");
    if (!type.starts_with("application/json")) {
      Answer(response, 415, {{"error", "send the arguments as a JSON body (Content-Type: application/json)"}});
      return;
    }
    nlohmann::json arguments = nlohmann::json::parse(request.body, nullptr, false);
    if (request.body.find_first_not_of(" \t\r\n") == std::string::npos) arguments = nullptr;
    if (arguments.is_discarded()) {
      Answer(response, 400, {{"error", "the body is not JSON"}});
      return;
    }
    const std::string command = request.matches[1];
    try {
      const long long id = service_.Submit(command, arguments);
      Answer(response, 202, {{"id", id}});
    } catch (const ArgumentError& error) {
      Answer(response, 400, {{"error", error.what()}});
    } catch (const ServiceUnavailableError& error) {
      Answer(response, 503, {{"error", error.what()}});
    }
  });

  auto notAllowed = [](const char* allow) {
    return [allow](const httplib::Request&, httplib::Response& response) {
      response.set_header("Allow", allow);
      Answer(response, 405, {{"error", fmt::format("use {}", allow)}});
    };
  };
  server_->Get(kCommandRoutes, notAllowed("POST"));
  server_->Put(kCommandRoutes, notAllowed("POST"));
  server_->Delete(kCommandRoutes, notAllowed("POST"));
  server_->Patch(kCommandRoutes, notAllowed("POST"));
  server_->Post(kReadRoutes, notAllowed("GET"));
  server_->Put(kReadRoutes, notAllowed("GET"));
  server_->Delete(kReadRoutes, notAllowed("GET"));
  server_->Patch(kReadRoutes, notAllowed("GET"));
}

int ControlServer::Start() {
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(options_.host);
  } else if (server_->bind_to_port(options_.host, options_.port)) {
    port_ = options_.port;
  } else {
    port_ = -1;
  }
  if (port_ <= 0) {
    throw CannotRunError(fmt::format("cannot listen on {}:{} (address in use or not on this machine)",
                                     options_.host, options_.port));
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return port_;
}

void ControlServer::Stop() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string ControlServer::PageUrl() const {
  const bool v6 = options_.host.find(':') != std::string::npos;
  return v6 ? fmt::format("http://[{}]:{}/", options_.host, port_) : fmt::format("http://{}:{}/", options_.host, port_);
}

}  // namespace cuserver
