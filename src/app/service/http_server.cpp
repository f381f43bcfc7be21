#include "app/service/http_server.hpp"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <optional>
#include <thread>

namespace cuserver {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = net::ip::tcp;
using boost::system::error_code;

namespace {

bool SameNameAnyCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX escapes, and '+' as a space in a query; a malformed escape stays as sent.
std::string Decoded(std::string_view text, bool plusIsSpace) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      result += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else if (plusIsSpace && text[i] == '+') {
      result += ' ';
    } else {
      result += text[i];
    }
  }
  return result;
}

std::string Text(beast::string_view text) { return std::string(text.data(), text.size()); }

HttpRequest ToRequest(http::request<http::string_body>&& message) {
  HttpRequest request;
  request.method = Text(message.method_string());
  const std::string_view target(message.target().data(), message.target().size());
  const std::size_t question = target.find('?');
  request.path = Decoded(target.substr(0, question), false);
  if (question != std::string_view::npos) {
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
      const std::size_t amp = query.find('&');
      const std::string_view pair = query.substr(0, amp);
      query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
      if (pair.empty()) continue;
      const std::size_t equals = pair.find('=');
      const std::string_view value = equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
      request.params.emplace(Decoded(pair.substr(0, equals), true), Decoded(value, true));
    }
  }
  for (const auto& field : message) {
    request.headers.emplace_back(Text(field.name_string()), Text(field.value()));
  }
  request.body = std::move(message.body());
  return request;
}

HttpResponse PlainAnswer(int status, std::string text) {
  HttpResponse response;
  response.status = status;
  response.SetContent(std::move(text), "text/plain; charset=utf-8");
  return response;
}

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (SameNameAnyCase(key, name)) return value;
  }
  return {};
}

bool HttpRequest::HasHeader(std::string_view name) const {
  for (const auto& header : headers) {
    if (SameNameAnyCase(header.first, name)) return true;
  }
  return false;
}

std::string HttpRequest::Param(const std::string& name) const {
  const auto found = params.find(name);
  return found == params.end() ? std::string() : found->second;
}

void HttpResponse::SetHeader(std::string name, std::string value) {
  for (auto& header : headers) {
    if (SameNameAnyCase(header.first, name)) {
      header.second = std::move(value);
      return;
    }
  }
  headers.emplace_back(std::move(name), std::move(value));
}

void HttpResponse::SetContent(std::string content, std::string contentType) {
  body = std::move(content);
  SetHeader("Content-Type", std::move(contentType));
}

struct HttpServer::Impl {
  class Connection;

  Impl(HttpHandler handlerIn, HttpLaneChooser laneIn, HttpServerLimits limitsIn, HttpRefusalHook refusedIn)
      : handler(std::move(handlerIn)), lane(std::move(laneIn)), limits(limitsIn), refused(std::move(refusedIn)) {}

  void Accept();
  void Admit(tcp::socket socket);
  void Release(const std::string& address);
  void Count(long long HttpServerCounts::*counter) {
    std::lock_guard lock(countsMutex);
    ++(counts.*counter);
  }

  const HttpHandler handler;
  const HttpLaneChooser lane;
  const HttpServerLimits limits;
  const HttpRefusalHook refused;

  // Declared before the I/O context: connections destroyed with it still count themselves out.
  mutable std::mutex countsMutex;
  std::map<std::string, int> openByAddress;
  int open = 0;
  HttpServerCounts counts;

  std::unique_ptr<net::io_context> io;
  std::unique_ptr<tcp::acceptor> acceptor;
  std::unique_ptr<net::steady_timer> acceptPause;
  std::unique_ptr<net::thread_pool> quick;
  std::unique_ptr<net::thread_pool> slow;
  std::thread thread;
};

// One client connection: reads a request under the request deadline, hands
// it to a handler thread, writes the answer, and reads the next one while
// the client keeps the connection alive. Every pending operation holds it.
class HttpServer::Impl::Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(Impl& server, tcp::socket socket, std::string address)
      : server_(server), stream_(std::move(socket)), address_(std::move(address)) {}
  ~Connection() { server_.Release(address_); }

  void ReadRequest() {
    parser_.emplace();
    parser_->header_limit(16 * 1024);
    parser_->body_limit(server_.limits.bodyBytes);
    stream_.expires_after(server_.limits.requestDeadline);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](error_code error, std::size_t) { self->OnHeader(error); });
  }

 private:
  void OnHeader(error_code error) {
    if (error) return Failed(error);
    if (parser_->is_done()) return Dispatch();
    const auto expect = parser_->get()[http::field::expect];
    if (beast::iequals(expect, "100-continue")) {
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      net::async_write(stream_, net::buffer(kContinue.data(), kContinue.size()),
                       [self = shared_from_this()](error_code written, std::size_t) {
                         if (written) return self->Failed(written);
                         self->ReadBody();
                       });
      return;
    }
    ReadBody();
  }

  void ReadBody() {
    http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](error_code error, std::size_t) {
      if (error) return self->Failed(error);
      self->Dispatch();
    });
  }

  void Failed(error_code error) {
    if (error == beast::error::timeout) {
      server_.Count(&HttpServerCounts::timedOut);
      return;  // the stream has closed the socket
    }
    if (error == http::error::body_limit) {
      return Write(PlainAnswer(413, "请求内容太长"), false);
    }
    if (error.category() == http::make_error_code(http::error::bad_method).category() &&
        error != http::error::end_of_stream && error != http::error::partial_message) {
      return Write(PlainAnswer(400, "不是 HTTP 请求"), false);
    }
    // The client closed or reset the connection: nothing to answer.
  }

  void Dispatch() {
    stream_.expires_never();  // a handler's time is not the client's
    const bool keepAlive = parser_->get().keep_alive();
    version_ = parser_->get().version();
    auto request = std::make_shared<HttpRequest>(ToRequest(parser_->release()));
    head_ = request->method == "HEAD";
    net::thread_pool& pool = server_.lane(*request) == HandlerLane::Slow ? *server_.slow : *server_.quick;
    net::post(pool, [self = shared_from_this(), request, keepAlive] {
      HttpResponse response;
      try {
        self->server_.handler(*request, response);
      } catch (const std::exception& error) {
        response = PlainAnswer(500, error.what());
      }
      net::post(self->stream_.get_executor(), [self, keepAlive, answer = std::move(response)]() mutable {
        self->Write(std::move(answer), keepAlive);
      });
    });
  }

  void Write(HttpResponse answer, bool keepAlive) {
    serializer_.reset();
    response_ = {};
    response_.version(version_);
    response_.result(static_cast<unsigned>(answer.status));
    for (auto& [name, value] : answer.headers) response_.insert(name, value);
    response_.body() = std::move(answer.body);
    response_.keep_alive(keepAlive);
    response_.prepare_payload();
    serializer_.emplace(response_);
    stream_.expires_after(server_.limits.answerDeadline);
    auto written = [self = shared_from_this(), close = response_.need_eof()](error_code error, std::size_t) {
      self->OnWritten(error, close);
    };
    if (head_) {
      http::async_write_header(stream_, *serializer_, std::move(written));
    } else {
      http::async_write(stream_, *serializer_, std::move(written));
    }
  }

  void OnWritten(error_code error, bool close) {
    if (error) return Failed(error);
    server_.Count(&HttpServerCounts::answered);
    if (close) {
      error_code ignored;
      stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
      return;
    }
    head_ = false;
    ReadRequest();
  }

  Impl& server_;
  beast::tcp_stream stream_;
  const std::string address_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  http::response<http::string_body> response_;
  std::optional<http::response_serializer<http::string_body>> serializer_;
  unsigned version_ = 11;
  bool head_ = false;
};

void HttpServer::Impl::Accept() {
  acceptor->async_accept([this](error_code error, tcp::socket socket) {
    if (error == net::error::operation_aborted || !acceptor->is_open()) return;
    if (error) {
      // Out of file descriptors, for instance: try again shortly rather than spin.
      acceptPause->expires_after(std::chrono::milliseconds{100});
      acceptPause->async_wait([this](error_code waited) {
        if (!waited) Accept();
      });
      return;
    }
    Admit(std::move(socket));
    Accept();
  });
}

void HttpServer::Impl::Admit(tcp::socket socket) {
  error_code error;
  net::ip::address address = socket.remote_endpoint(error).address();
  if (error) return;
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6());
  }
  std::string key = address.to_string();
  bool admitted = false;
  {
    std::lock_guard lock(countsMutex);
    const auto found = openByAddress.find(key);
    const int fromAddress = found == openByAddress.end() ? 0 : found->second;
    if (open < limits.connections && fromAddress < limits.connectionsPerAddress) {
      ++open;
      ++openByAddress[key];
      ++counts.accepted;
      admitted = true;
    } else {
      ++counts.refused;
    }
  }
  if (!admitted) {
    socket.close(error);
    if (refused) refused(key);
    return;
  }
  std::make_shared<Connection>(*this, std::move(socket), std::move(key))->ReadRequest();
}

void HttpServer::Impl::Release(const std::string& address) {
  std::lock_guard lock(countsMutex);
  --open;
  const auto found = openByAddress.find(address);
  if (found != openByAddress.end() && --found->second <= 0) openByAddress.erase(found);
}

HttpServer::HttpServer(HttpHandler handler, HttpLaneChooser lane, HttpServerLimits limits, HttpRefusalHook refused)
    : impl_(std::make_unique<Impl>(std::move(handler), std::move(lane), limits, std::move(refused))) {}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::Listen(const std::string& host, int port) {
  Impl& impl = *impl_;
  impl.io = std::make_unique<net::io_context>(1);
  error_code error;
  tcp::resolver resolver(*impl.io);
  const auto endpoints = resolver.resolve(host, std::to_string(port), tcp::resolver::passive, error);
  if (error) return -1;
  for (const auto& entry : endpoints) {
    auto acceptor = std::make_unique<tcp::acceptor>(*impl.io);
    acceptor->open(entry.endpoint().protocol(), error);
    if (!error) acceptor->set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor->bind(entry.endpoint(), error);
    if (!error) acceptor->listen(net::socket_base::max_listen_connections, error);
    const int bound = error ? 0 : acceptor->local_endpoint(error).port();
    if (error) continue;
    impl.acceptor = std::move(acceptor);
    return bound;
  }
  return -1;
}

void HttpServer::Serve() {
  Impl& impl = *impl_;
  impl.acceptPause = std::make_unique<net::steady_timer>(*impl.io);
  impl.quick = std::make_unique<net::thread_pool>(static_cast<std::size_t>(impl.limits.quickThreads));
  impl.slow = std::make_unique<net::thread_pool>(static_cast<std::size_t>(impl.limits.slowThreads));
  impl.Accept();
  impl.thread = std::thread([&impl] { impl.io->run(); });
}

void HttpServer::Stop() {
  Impl& impl = *impl_;
  if (!impl.io) return;
  impl.io->stop();
  if (impl.thread.joinable()) impl.thread.join();
  // Requests not started are dropped; running handlers end first. The
  // connections go with the work that holds them.
  for (auto* pool : {impl.quick.get(), impl.slow.get()}) {
    if (pool == nullptr) continue;
    pool->stop();
    pool->join();
  }
  impl.quick.reset();
  impl.slow.reset();
  impl.acceptPause.reset();
  impl.acceptor.reset();
  impl.io.reset();
}

HttpServerCounts HttpServer::Counts() const {
  std::lock_guard lock(impl_->countsMutex);
  return impl_->counts;
}

}  // namespace cuserver
