#include "app/service/http_server.hpp"
#include "app/service/http_message.hpp"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <list>
#include <optional>
#include <thread>

namespace cuserver {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = net::ip::tcp;
using boost::system::error_code;

namespace {

HttpResponse PlainAnswer(int status, std::string text) {
  HttpResponse response;
  response.status = status;
  response.SetContent(std::move(text), "text/plain; charset=utf-8");
  return response;
}

}  // namespace

struct HttpServer::Impl {
  class Connection;

  Impl(HttpHandler handlerIn, HttpLaneChooser laneIn, HttpServerLimits limitsIn, HttpRefusalHook refusedIn)
      : handler(std::move(handlerIn)), lane(std::move(laneIn)), limits(limitsIn), refused(std::move(refusedIn)) {}

  // Where a connection stands in the limits; countsMutex.
  struct Slot {
    bool counted = true;  // in open and openByAddress
    std::optional<std::list<std::weak_ptr<Connection>>::iterator> waiting;
  };

  void Accept();
  void Admit(tcp::socket socket);
  // A connection starts or stops waiting for a whole request.
  void Waits(const std::shared_ptr<Connection>& connection);
  void Served(Connection& connection);
  // The connection, open or closed, no longer holds a place.
  void Release(Connection& connection);
  // countsMutex held.
  void Uncount(Connection& connection);
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
  // The connections waiting for a whole request, the longest waiting first.
  std::list<std::weak_ptr<Connection>> waiting;
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
  ~Connection() { server_.Release(*this); }

  const std::string& Address() const { return address_; }
  Slot slot;  // the server's, under its countsMutex

  // A connection just opened that has sent nothing yet: the client has not
  // had its turn to write the request it connected for. On the I/O thread.
  bool Unheard(std::chrono::steady_clock::time_point now) const {
    constexpr auto kFirstBytes = std::chrono::milliseconds{250};
    error_code ignored;
    return now - opened_ < kFirstBytes && !(parser_ && parser_->got_some()) && buffer_.size() == 0 &&
           stream_.socket().available(ignored) == 0;
  }

  // Closes the connection, on the I/O thread, to make room for a new one;
  // its pending read ends as aborted.
  void GiveWay() {
    error_code ignored;
    stream_.socket().close(ignored);
  }

  void ReadRequest() {
    server_.Waits(shared_from_this());
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
    server_.Served(*this);
    const bool keepAlive = parser_->get().keep_alive();
    version_ = parser_->get().version();
    auto request = std::make_shared<HttpRequest>(ToHttpRequest(parser_->release()));
    request->clientAddress = address_;
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
  const std::chrono::steady_clock::time_point opened_ = std::chrono::steady_clock::now();
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
  bool admitted = true;
  std::shared_ptr<Connection> givingWay;
  {
    std::lock_guard lock(countsMutex);
    const auto found = openByAddress.find(key);
    const bool addressFull = found != openByAddress.end() && found->second >= limits.connectionsPerAddress;
    if (addressFull || open >= limits.connections) {
      // The longest waiting gives way; one that has not yet sent its first
      // byte only when every other has, so that a flood of new connections
      // cannot close a client's before it has had its turn to write.
      const auto now = std::chrono::steady_clock::now();
      std::shared_ptr<Connection> unheard;
      for (const auto& candidate : waiting) {
        givingWay = candidate.lock();  // null while its last holder is letting it go
        if (givingWay && (!addressFull || givingWay->Address() == key)) {
          if (!givingWay->Unheard(now)) break;
          if (!unheard) unheard = givingWay;
        }
        givingWay.reset();
      }
      if (!givingWay) givingWay = std::move(unheard);
      if (givingWay) {
        Uncount(*givingWay);
        ++counts.gaveWay;
      } else {
        ++counts.refused;
        admitted = false;
      }
    }
    if (admitted) {
      ++open;
      ++openByAddress[key];
      ++counts.accepted;
    }
  }
  if (givingWay) {
    givingWay->GiveWay();
    if (refused) refused(givingWay->Address());
  }
  if (!admitted) {
    socket.close(error);
    if (refused) refused(key);
    return;
  }
  std::make_shared<Connection>(*this, std::move(socket), std::move(key))->ReadRequest();
}

void HttpServer::Impl::Waits(const std::shared_ptr<Connection>& connection) {
  std::lock_guard lock(countsMutex);
  // A connection that gave way is no longer counted and waits for nothing.
  if (!connection->slot.counted || connection->slot.waiting) return;
  connection->slot.waiting = waiting.insert(waiting.end(), connection);
}

void HttpServer::Impl::Served(Connection& connection) {
  std::lock_guard lock(countsMutex);
  if (!connection.slot.waiting) return;
  waiting.erase(*connection.slot.waiting);
  connection.slot.waiting.reset();
}

void HttpServer::Impl::Release(Connection& connection) {
  std::lock_guard lock(countsMutex);
  Uncount(connection);
}

void HttpServer::Impl::Uncount(Connection& connection) {
  Slot& slot = connection.slot;
  if (slot.waiting) {
    waiting.erase(*slot.waiting);
    slot.waiting.reset();
  }
  if (!slot.counted) return;
  slot.counted = false;
  --open;
  const auto found = openByAddress.find(connection.Address());
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
