#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace httplib {
class Server;
}

namespace cuserver {

class Service;

// Where the control page listens and what it asks of a request.
struct ControlServerOptions {
  std::string host = "127.0.0.1";
  int port = 8064;  // 0: any free port
  // When not empty, every /api and /metrics request must carry
  // "Authorization: Bearer <token>". Without a token only loopback requests naming a loopback host
  // are served, so that no other web page can reach the service.
  std::string token;
};

// The control page and its JSON API, served from a thread pool of its own so
// that it answers while a run is in progress.
//   GET  /                 the page
//   GET  /api/status       caption, queue, last runs, messages, run log tail
//   GET  /api/layers       the geoset's layers as GeoJSON
//   GET  /api/days         ?from=&to= (DayKeys): the day ledger's states, as `days --json`
//   GET  /metrics          Prometheus text exposition
//   POST /api/run-day      {"day"}
//   POST /api/run-days     {"from","to"}
//   POST /api/import-roads {}
//   POST /api/line-alarms  {"days":[...]}
// A POST needs a JSON body (415 otherwise); another method on a route is
// answered 405; a refused command 400 with the operator's message.
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

 private:
  void Route();

  Service& service_;
  ControlServerOptions options_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
};

// True for 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackHost(std::string_view host);
// True for a Host header naming 127.0.0.1, localhost or [::1], with no port
// or the given one.
bool IsLoopbackHostHeader(std::string_view header, int port);

}  // namespace cuserver
