#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/service/http_server.hpp"
#include "app/service/token_throttle.hpp"

namespace cuserver {

class Service;

// Where the control page listens and what it asks of a request.
struct ControlServerOptions {
  ControlServerOptions() = default;
  ControlServerOptions(std::string listenHost, int listenPort, std::string serviceToken)
      : host(std::move(listenHost)), port(listenPort), token(std::move(serviceToken)) {}

  std::string host = "127.0.0.1";
  int port = 8064;  // 0: any free port
  // When not empty, every /api and /metrics request must carry
  // "Authorization: Bearer <token>" (the scheme in any case). Without a token only loopback requests naming a loopback host
  // are served, so that no other web page can reach the service.
  std::string token;
  // How a client address that keeps sending wrong tokens is held off, and
  // the clock it is timed on (null: the machine's).
  TokenThrottleRules tokenThrottle;
  const WaitClock* clock = nullptr;
  // The request deadline, the connection limits per client address and in
  // all, and the handler threads.
  HttpServerLimits limits;
};

// The control page and its JSON API (the routes are declared in routes.cpp),
// served from threads of its own so that it answers while a run is in
// progress, and while clients are slow or many: the routes that may wait for
// the database run apart from the others. Another method on a route is
// answered 405, a path of no route 404.
class ControlServer {
 public:
  ControlServer(Service& service, ControlServerOptions options);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Binds the address and starts serving; returns the port. Throws
  // CannotRunError when the address cannot be bound.
  int Start();
  void Stop();
  // "http://host:port/"
  std::string PageUrl() const;
  HttpServerCounts ConnectionCounts() const { return server_->Counts(); }

 private:
  void Handle(const HttpRequest& request, HttpResponse& response);
  // The checks every request passes before its route: another site's page,
  // the token, the Host header. False when the response is the refusal.
  bool Admitted(const HttpRequest& request, HttpResponse& response);
  // Answers a request whose token is missing or wrong: 401, or 429 while its
  // address is held off; a wrong one is counted and, at most once a minute,
  // logged.
  void RefuseToken(const HttpRequest& request, HttpResponse& response);
  // A line in the service log at most once a minute, counting the
  // connections refused in between.
  void Refused(const std::string& address);

  Service& service_;
  ControlServerOptions options_;
  std::unique_ptr<HttpServer> server_;
  TokenThrottle throttle_;
  std::atomic<int> port_ = 0;
  std::mutex refusalsMutex_;
  int refusedSinceLine_ = 0;
  std::optional<std::chrono::steady_clock::time_point> lastRefusalLine_;
};

// The credentials of an Authorization header of the Bearer scheme (in any
// case); empty for another scheme or none.
std::string_view BearerCredentials(std::string_view authorization);

// True for 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackHost(std::string_view host);
// True for a Host header naming 127.0.0.1, localhost or [::1], with no port
// or the given one.
bool IsLoopbackHostHeader(std::string_view header, int port);

}  // namespace cuserver
