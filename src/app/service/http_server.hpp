#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cuserver {

// One request as the routes see it: the path and the query parameters
// percent-decoded, the header names as the client sent them.
struct HttpRequest {
  std::string method;  // "GET", "HEAD" (answered as GET, without the body), "POST" ...
  std::string path;
  std::multimap<std::string, std::string> params;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // The client's address as the connection came from it (an IPv4 client of
  // an IPv6 socket as IPv4); a reverse proxy's own.
  std::string clientAddress;

  // The first header of that name (any case); empty when there is none.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
  // The first query parameter of that name; empty when there is none.
  std::string Param(const std::string& name) const;
};

struct HttpResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  void SetHeader(std::string name, std::string value);
  void SetContent(std::string content, std::string contentType);
};

using HttpHandler = std::function<void(const HttpRequest&, HttpResponse&)>;

// Which handler threads run a request: the quick ones answer from memory, so
// that a handler waiting for the database never delays them.
enum class HandlerLane { Quick, Slow };
using HttpLaneChooser = std::function<HandlerLane(const HttpRequest&)>;
// Told on the I/O thread, so it must be quick, of each connection closed
// because a limit was reached (the new one refused, or the one that gave way
// to it), with that connection's client address.
using HttpRefusalHook = std::function<void(const std::string& address)>;

struct HttpServerLimits {
  // From a connection's opening, or from the end of its previous answer, to
  // the last byte of the next request's headers and body; then the
  // connection is closed. A total, however the bytes trickle in.
  std::chrono::milliseconds requestDeadline{std::chrono::seconds{10}};
  // For writing one answer to a client that reads slowly.
  std::chrono::milliseconds answerDeadline{std::chrono::seconds{30}};
  // Open connections. At a limit, the connection that has waited longest
  // for the rest of its request (from the same address, at the limit of one
  // address) is closed to make room for the new one, so that clients that
  // trickle requests in never keep a whole request out; only when every
  // connection concerned has a whole request (being answered) is the new one
  // closed as soon as it is accepted. An idle kept-alive connection waits
  // for its next request.
  int connectionsPerAddress = 32;
  int connections = 256;
  std::size_t bodyBytes = 64 * 1024;
  int quickThreads = 2;
  int slowThreads = 3;
};

// Connections since the start.
struct HttpServerCounts {
  long long accepted = 0;      // and held until the client or a deadline closed them
  long long refused = 0;       // closed at once: a limit was reached
  long long gaveWay = 0;       // closed without a whole request, to make room at a limit
  long long timedOut = 0;      // closed by a deadline
  long long answered = 0;      // requests
};

// A small HTTP/1.1 server: one thread does every read and write
// asynchronously, under the deadlines above; the handlers run on two small
// pools of their own threads, so that a slow client or a slow handler holds
// one connection and nothing else.
class HttpServer {
 public:
  HttpServer(HttpHandler handler, HttpLaneChooser lane, HttpServerLimits limits, HttpRefusalHook refused = {});
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds host:port (port 0: any free port; SO_REUSEADDR, never
  // SO_REUSEPORT) and listens; returns the port, or -1 when no address of
  // the host can be bound. Connections wait in the backlog until Serve.
  int Listen(const std::string& host, int port);
  // Starts the I/O thread and the handler threads.
  void Serve();
  // Closes the listening socket and every connection; waits for the
  // handlers that are running. Idempotent.
  void Stop();
  HttpServerCounts Counts() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace cuserver
