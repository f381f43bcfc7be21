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

std::string_view BearerCredentials(std::string_view authorization) {
  constexpr std::string_view kScheme = "bearer";
  if (authorization.size() <= kScheme.size() || authorization[kScheme.size()] != ' ') return {};
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    const char c = authorization[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kScheme[i]) return {};
  }
  authorization.remove_prefix(kScheme.size());
  while (!authorization.empty() && authorization.front() == ' ') authorization.remove_prefix(1);
  return authorization;
}

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
          options_.limits, [this](const std::string& address) { Refused(address); })),
      throttle_(options_.tokenThrottle, options_.clock != nullptr ? *options_.clock : SystemWaitClock()) {}

ControlServer::~ControlServer() { Stop(); }

bool ControlServer::Admitted(const HttpRequest& request, HttpResponse& response) {
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
    if (SameText(BearerCredentials(request.Header("Authorization")), options_.token)) return true;
    RefuseToken(request, response);
    return false;
  }
  if (!IsLoopbackHostHeader(request.Header("Host"), port_)) {
    AnswerJson(response, 403, {{"error", "控制页面只响应本机回环主机名"}});
    return false;
  }
  return true;
}

void ControlServer::RefuseToken(const HttpRequest& request, HttpResponse& response) {
  response.SetHeader("WWW-Authenticate", "Bearer");
  // A request without any token is no guess: the page asks for the token
  // when told 401.
  if (!request.HasHeader("Authorization")) return AnswerJson(response, 401, {{"error", "此请求需要服务的令牌"}});
  const TokenFailure failure = throttle_.Failed(request.clientAddress);
  service_.CountTokenFailure(failure.holdOff.count() > 0);
  if (failure.logLine) {
    service_.Log().Warning(fmt::format(
        "控制页面：自上一条此类消息以来有 {} 个请求的令牌错误，最近一个来自 {}（该地址已连续错 {} 次{}）",
        *failure.logLine, request.clientAddress, failure.inARow,
        failure.holdOff.count() > 0 ? fmt::format("，暂停应答 {} 秒", failure.holdOff.count()) : ""));
  }
  if (failure.holdOff.count() > 0) {
    response.SetHeader("Retry-After", std::to_string(failure.holdOff.count()));
    return AnswerJson(response, 429,
                      {{"error", fmt::format("令牌错误的请求过多，请 {} 秒后再试", failure.holdOff.count())}});
  }
  AnswerJson(response, 401, {{"error", "此请求需要服务的令牌"}});
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
      "控制页面：自上一条此类消息以来有 {} 个连接在上限处被拒绝或关闭，最近一个来自 {}（每个地址最多 {} 个，总共最多 {} "
      "个；到达上限时，等待请求最久的连接让位给新连接）",
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
