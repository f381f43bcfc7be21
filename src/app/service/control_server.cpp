#include "app/service/control_server.hpp"

#include <fmt/format.h>

#include "app/errors.hpp"
#include "app/service/api_answer.hpp"
#include "app/service/routes.hpp"
#include "app/service/service.hpp"

namespace cuserver {
namespace {

// Each request runs on the lane its route asks for; a path of no route is
// answered at once.
HandlerLane LaneOf(const HttpRequest& request) {
  const Route* route = FindRoute(request.path);
  return route != nullptr ? route->lane : HandlerLane::Quick;
}

void NotAllowed(HttpResponse& response, std::string_view allow) {
  response.SetHeader("Allow", std::string(allow));
  AnswerJson(response, 405, {{"error", fmt::format("此路径只接受 {} 请求", allow)}});
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
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
    const Route* route = FindRoute(request.path);
    const bool needsToken = route != nullptr ? route->needsToken : request.path.starts_with("/api/");
    if (!needsToken) return true;
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
    const Route* route = FindRoute(request.path);
    if (route == nullptr) return AnswerJson(response, 404, {{"error", "没有这个页面"}});
    if (!route->Accepts(request.method)) return NotAllowed(response, route->method);
    route->answer(service_, request, response);
  } catch (...) {
    response = HttpResponse{};
    AnswerFailure(response);
  }
}

void ControlServer::Refused(const std::string& address) {
  std::lock_guard lock(refusalsMutex_);
  ++refusedSinceLine_;
  const auto now = std::chrono::steady_clock::now();
  if (lastRefusalLine_ && now - *lastRefusalLine_ < std::chrono::minutes{1}) return;
  service_.Log().Warning(fmt::format(
      "控制页面：自上一条此类消息以来拒绝了 {} 个连接，最近一个来自 {}（每个地址最多 {} 个，总共最多 {} 个）",
      refusedSinceLine_, address, options_.limits.connectionsPerAddress, options_.limits.connections));
  refusedSinceLine_ = 0;
  lastRefusalLine_ = now;
}

int ControlServer::Start() {
  const int port = server_->Listen(options_.host, options_.port);
  if (port <= 0) {
    throw CannotRunError(fmt::format("无法在 {}:{} 上监听（地址已被占用或不属于本机）",
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
