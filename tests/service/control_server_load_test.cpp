// The control server under slow and many clients, over real sockets from
// several loopback addresses: a flood of connections that trickle their
// headers in, beside ordinary load, must not keep the status from answering;
// nor may a flood of wrong tokens go unnoticed.
// How fast it answers under load is a figure for bench/, not asserted here.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "service_fixture.hpp"
#include "support/instant_wait_clock.hpp"
#include "support/wait_until.hpp"

namespace cuserver {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

// A TCP connection to 127.0.0.1:port from a given loopback address.
class RawClient {
 public:
  RawClient(const std::string& from, int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    connected_ = bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                 connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
  }
  ~RawClient() { close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Send(std::string_view bytes) {
    return connected_ && send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // True once the server has closed the connection (end of stream or reset).
  bool ClosedByServer() {
    char byte = 0;
    const ssize_t n = recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return !connected_ || n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  }
  // Sends a whole request and reads the answer to its end; its status code,
  // 0 when none came within the limit (which only bounds a hang).
  int Exchange(std::string_view request, std::chrono::milliseconds limit = 30s, std::string* whole = nullptr) {
    if (!Send(request)) return 0;
    timeval wait{static_cast<time_t>(limit.count() / 1000), static_cast<suseconds_t>(limit.count() % 1000 * 1000)};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string answer;
    char buffer[16384];
    for (ssize_t n; (n = recv(fd_, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<size_t>(n));
    if (whole != nullptr) *whole = answer;
    if (!answer.starts_with("HTTP/1.1 ") || answer.size() < 12) return 0;
    return std::stoi(answer.substr(9, 3));
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::string Request(const std::string& method, const std::string& path, const std::string& token,
                    const std::string& body = "", const std::string& scheme = "Bearer") {
  std::string text = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  if (!token.empty()) text += "Authorization: " + scheme + " " + token + "\r\n";
  if (!body.empty()) text += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + body;
}

struct ServerFixture : ServiceFixture {
  explicit ServerFixture(ControlServerOptions serverOptions) {
    Started();
    server = std::make_unique<ControlServer>(*service, std::move(serverOptions));
    port = server->Start();
    service->Queue().WaitIdle();
  }
  std::unique_ptr<ControlServer> server;
  int port = 0;
};

TEST(ControlServerLoad, StatusIsAnsweredBesideTwoHundredSlowClientsAndLoad) {
  ControlServerOptions options{"0.0.0.0", 0, "s3cret"};
  ServerFixture page(options);
  const HttpServerLimits limits = options.limits;

  // Connections that send tokenless headers a byte at a time, ten bytes a
  // second, and never end them.
  constexpr int kSlow = 200;
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < kSlow; ++i) slow.push_back(std::make_unique<RawClient>("127.0.0.2", page.port));
  std::atomic<bool> loadDone{false};
  std::thread trickle([&] {
    const std::string start = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Padding: ";
    for (size_t i = 0; !loadDone; ++i) {
      for (auto& client : slow) client->Send(i < start.size() ? start.substr(i, 1) : "x");
      std::this_thread::sleep_for(100ms);
    }
  });
  // The connections beyond the limit of one address are closed (the oldest
  // give way to the newest) and the closings logged.
  int held = 0;
  bool logged = false;
  WaitUntil([&] {
    held = 0;
    for (auto& client : slow) held += client->ClosedByServer() ? 0 : 1;
    const auto messages = page.log.Recent();
    logged = std::any_of(messages.begin(), messages.end(), [](const ServiceMessage& message) {
      return message.level == "warning" && message.text.find("被拒绝或关闭") != std::string::npos;
    });
    return held <= limits.connectionsPerAddress && logged;
  });
  EXPECT_TRUE(logged) << "the refusals are in the service log";

  // 2000 ordinary requests over 20 clients, each from an address of its own.
  struct Ask {
    std::string request;
    int status;
    int orStatus = 0;
  };
  const std::vector<Ask> asks = {
      {Request("GET", "/api/status", "s3cret"), 200},
      {Request("GET", "/", ""), 200},
      {Request("GET", "/api/layers", "s3cret"), 200},
      {Request("GET", "/metrics", "s3cret"), 200},
      {Request("POST", "/api/run-day", "s3cret", R"({"day":"20200230"})"), 400},
      // held off once the address has sent a few
      {Request("GET", "/api/status", "wrong"), 401, 429},
  };
  constexpr int kClients = 20;
  constexpr int kPerClient = 100;
  std::atomic<int> answered{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      const std::string from = "127.0.1." + std::to_string(c + 1);
      for (int i = 0; i < kPerClient; ++i) {
        const Ask& ask = asks[static_cast<size_t>(c + i) % asks.size()];
        const int status = RawClient(from, page.port).Exchange(ask.request);
        (status == ask.status || status == ask.orStatus ? answered : wrong)++;
      }
    });
  }

  // The status from 127.0.0.1, one request after another, while the load lasts.
  std::atomic<bool> clientsDone{false};
  std::thread joiner([&] {
    for (auto& client : clients) client.join();
    clientsDone = true;
  });
  int probes = 0;
  int failed = 0;
  const std::string status = Request("GET", "/api/status", "s3cret");
  while (!clientsDone || probes < 10) {
    ++probes;
    if (RawClient("127.0.0.1", page.port).Exchange(status) != 200) ++failed;
  }
  joiner.join();
  loadDone = true;
  trickle.join();

  const HttpServerCounts counts = page.server->ConnectionCounts();
  EXPECT_EQ(answered, kClients * kPerClient);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(failed, 0) << "of " << probes << " status probes";
  EXPECT_LE(held, limits.connectionsPerAddress) << "connections from one address are bounded";
  EXPECT_GE(counts.refused + counts.gaveWay, kSlow - limits.connectionsPerAddress);
}

// The operator's own address flooded with connections that trickle their
// headers in and are opened again as soon as they are closed: each of them
// gives way to a new connection, so a whole request from that address is
// answered within a second, and the connections stay bounded.
TEST(ControlServerLoad, SlowConnectionsFromTheOperatorsAddressGiveWayToItsRequests) {
  ControlServerOptions options{"127.0.0.1", 0, ""};
  ServerFixture page(options);
  constexpr int kSlow = 100;
  const std::string start = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Padding: ";
  std::vector<std::unique_ptr<RawClient>> slow(kSlow);
  std::atomic<bool> done{false};
  std::atomic<int> renewed{0};
  std::atomic<int> held{0};
  std::thread trickle([&] {
    while (!done) {
      int open = 0;
      for (auto& client : slow) {
        if (client && !client->ClosedByServer()) {
          client->Send("x");
          ++open;
          continue;
        }
        client = std::make_unique<RawClient>("127.0.0.1", page.port);
        client->Send(start);
        renewed++;
      }
      held = open;
      std::this_thread::sleep_for(20ms);
    }
  });
  WaitUntil([&] { return renewed >= 2 * kSlow; });

  const std::string status = Request("GET", "/api/status", "");
  for (int probe = 0; probe < 30; ++probe) {
    const auto begun = std::chrono::steady_clock::now();
    const int answer = RawClient("127.0.0.1", page.port).Exchange(status, 1s);
    const auto took = std::chrono::steady_clock::now() - begun;
    EXPECT_EQ(answer, 200) << "probe " << probe;
    EXPECT_LT(took, 1s) << "probe " << probe;
    std::this_thread::sleep_for(100ms);
  }
  done = true;
  trickle.join();
  EXPECT_LE(held, options.limits.connectionsPerAddress) << "connections from one address are bounded";
  EXPECT_GT(page.server->ConnectionCounts().gaveWay, kSlow) << "the flood was renewed";
}

// 1000 wrong tokens from one address as fast as they come: the first few are
// told the token is wrong, the rest are held off with a growing Retry-After,
// counted in /metrics and logged once a minute; the right token passes at
// once all along, with the scheme in any case. The clock is the test's.
TEST(ControlServerLoad, WrongTokensAreHeldOffCountedAndLoggedButTheRightOneAlwaysPasses) {
  test::InstantWaitClock clock;
  ControlServerOptions options{"127.0.0.1", 0, "s3cret"};
  options.clock = &clock;
  const TokenThrottleRules rules = options.tokenThrottle;
  ServerFixture page(options);
  const auto ask = [&](const std::string& token, std::string* answer = nullptr, const std::string& scheme = "Bearer") {
    return RawClient("127.0.0.1", page.port).Exchange(Request("GET", "/api/status", token, "", scheme), 30s, answer);
  };
  const auto wrongTokenLines = [&] {
    const auto messages = page.log.Recent();
    return std::count_if(messages.begin(), messages.end(), [](const ServiceMessage& message) {
      return message.level == "warning" && message.text.find("令牌错误") != std::string::npos &&
             message.text.find("127.0.0.1") != std::string::npos;
    });
  };

  constexpr int kWrong = 1000;
  int refused = 0;
  int heldOff = 0;
  std::string answer;
  std::string lastRetryAfter;
  for (int i = 0; i < kWrong; ++i) {
    const int status = ask("guess" + std::to_string(i), &answer);
    if (status == 401) ++refused;
    if (status == 429) {
      ++heldOff;
      const std::size_t at = answer.find("Retry-After: ");
      ASSERT_NE(at, std::string::npos) << answer;
      lastRetryAfter = answer.substr(at + 13, answer.find('\r', at) - at - 13);
    }
    if (i == kWrong / 2) {
      EXPECT_EQ(ask("s3cret"), 200) << "the right token while its address is held off";
    }
  }
  EXPECT_EQ(refused, rules.freeFailures);
  EXPECT_EQ(heldOff, kWrong - rules.freeFailures);
  EXPECT_EQ(lastRetryAfter, std::to_string(rules.longestPause.count()));
  EXPECT_EQ(ask("s3cret", nullptr, "bearer"), 200) << "the scheme in any case";
  EXPECT_EQ(ask(""), 401) << "no token is no guess";
  EXPECT_EQ(wrongTokenLines(), 1) << "at most one line a minute";

  std::string metrics;
  ASSERT_EQ(RawClient("127.0.0.1", page.port).Exchange(Request("GET", "/metrics", "s3cret"), 30s, &metrics), 200);
  EXPECT_NE(metrics.find("cuserver_token_failures_total{answer=\"401\"} " + std::to_string(rules.freeFailures)),
            std::string::npos)
      << metrics;
  EXPECT_NE(metrics.find("cuserver_token_failures_total{answer=\"429\"} " +
                         std::to_string(kWrong - rules.freeFailures)),
            std::string::npos);

  clock.SleepFor(rules.logEvery);
  EXPECT_EQ(ask("one more"), 429);
  EXPECT_EQ(wrongTokenLines(), 2) << "a minute later, the next line";
  clock.SleepFor(rules.forgetAfter);
  EXPECT_EQ(ask("after a quiet while"), 401) << "the address starts afresh";
}

// A total deadline, not one per read: a byte every 20 ms keeps a per-read
// timeout waiting forever, and the requests trickled here would take 20 s
// and more to send; each is cut at the deadline before its end.
TEST(ControlServerLoad, AClientSlowerThanTheRequestDeadlineIsCutAtIt) {
  ControlServerOptions options{"127.0.0.1", 0, ""};
  options.limits.requestDeadline = 300ms;
  ServerFixture page(options);
  const std::string body = R"({"day":"20140319"})" + std::string(1000, ' ');
  const std::string post = Request("POST", "/api/run-day", "", body);
  struct Case {
    const char* name;
    std::string sentAtOnce;
    std::string trickled;
  };
  for (const Case& c : std::vector<Case>{
           {"headers", "", "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Padding: " + std::string(1000, 'x')},
           {"body", post.substr(0, post.size() - body.size()), body}}) {
    RawClient client("127.0.0.1", page.port);
    ASSERT_TRUE(c.sentAtOnce.empty() || client.Send(c.sentAtOnce)) << c.name;
    size_t sent = 0;
    for (; sent < c.trickled.size() && !client.ClosedByServer(); ++sent) {
      client.Send(c.trickled.substr(sent, 1));
      std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(client.ClosedByServer()) << c.name;
    EXPECT_LT(sent, c.trickled.size()) << c.name << ": closed only once the client had sent everything";
  }
  EXPECT_EQ(RawClient("127.0.0.1", page.port).Exchange(Request("GET", "/api/status", "")), 200)
      << "a request sent in time is still answered";
  EXPECT_EQ(page.server->ConnectionCounts().timedOut, 2);
}

}  // namespace
}  // namespace cuserver
