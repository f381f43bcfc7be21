// The connection to the database server breaks after the server committed a
// vehicle-day and before the client heard it: a proxy between the run and
// the test server drops the commit's answer and cuts the connection.

#include <arpa/inet.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

#include "server_fleet_day.hpp"

namespace cuserver {
namespace {


// Frames of the PostgreSQL protocol read off one direction of a connection:
// a type byte and a length that counts itself (the client's first message has
// no type byte).
class Frames {
 public:
  explicit Frames(bool untypedFirst) : untypedFirst_(untypedFirst) {}
  void Add(const char* data, std::size_t size) { buffer_.append(data, size); }
  // The next whole frame, its type ('\0' for the untyped one) and body.
  bool Next(char& type, std::string& body, std::string& raw) {
    const std::size_t head = untypedFirst_ ? 4 : 5;
    if (buffer_.size() < head) return false;
    std::uint32_t length = 0;
    std::memcpy(&length, buffer_.data() + head - 4, 4);
    length = ntohl(length);
    const std::size_t total = head - 4 + length;
    if (buffer_.size() < total) return false;
    type = untypedFirst_ ? '\0' : buffer_[0];
    raw = buffer_.substr(0, total);
    body = buffer_.substr(head, total - head);
    buffer_.erase(0, total);
    untypedFirst_ = false;
    return true;
  }

 private:
  bool untypedFirst_;
  std::string buffer_;
};

bool SendAll(int socket, const std::string& data) {
  for (std::size_t sent = 0; sent < data.size();) {
    const ssize_t n = ::send(socket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Passes connections through to the server. The answer to the COMMIT of the
// cutAt-th pipeline that writes a vehicle's ledger entry and tireddriver rows
// is dropped and the connection cut, once.
class CommitCuttingProxy {
 public:
  CommitCuttingProxy(int serverPort, int cutAt) : serverPort_(serverPort), cutAt_(cutAt) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      throw std::runtime_error("the proxy cannot listen");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~CommitCuttingProxy() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    for (std::thread& connection : connections_) connection.join();
    ::close(listener_);
  }
  int Port() const { return port_; }
  bool Cut() const { return cut_; }

 private:
  void Accept() {
    while (!stop_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (::poll(&waiting, 1, 100) <= 0) continue;
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      const int server = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<std::uint16_t>(serverPort_));
      if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(server);
        ::close(client);
        continue;
      }
      connections_.emplace_back([this, client, server] { Pass(client, server); });
    }
  }

  void Pass(int client, int server) {
    Frames fromClient(true);
    Frames fromServer(false);
    bool armed = false;
    bool tiredInBatch = false;
    std::map<std::string, std::string> prepared;  // statement name -> its text
    char buffer[65536];
    while (!stop_) {
      pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (::poll(ends, 2, 100) <= 0) continue;
      bool open = true;
      for (int side = 0; side < 2 && open; ++side) {
        if ((ends[side].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        const ssize_t n = ::recv(ends[side].fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
          open = false;
          break;
        }
        Frames& frames = side == 0 ? fromClient : fromServer;
        frames.Add(buffer, static_cast<std::size_t>(n));
        char type = 0;
        std::string body;
        std::string raw;
        while (open && frames.Next(type, body, raw)) {
          if (side == 0) {
            // A vehicle-day goes as one pipeline of statements up to a
            // Sync: each runs a text of its own (an unnamed Parse) or a
            // statement prepared before (a Bind naming it). The cut one
            // writes a fatigue row.
            const std::string first(body.c_str());
            const std::string second(body.c_str() + std::min(body.size(), first.size() + 1));
            std::string query;
            if (type == 'P' && first.empty()) query = second;
            if (type == 'P' && !first.empty()) prepared[first] = second;
            if (type == 'B' && prepared.contains(second)) query = prepared[second];
            std::transform(query.begin(), query.end(), query.begin(), [](unsigned char c) { return std::tolower(c); });
            if (type == 'S') tiredInBatch = false;
            if (query.find("insert into tireddriver") != std::string::npos) tiredInBatch = true;
            if (tiredInBatch && query.find("insert into cuserver_vehicle_days") != std::string::npos &&
                ++vehicleDays_ == cutAt_) {
              armed = true;
            }
            open = SendAll(server, raw);
          } else if (armed && type == 'C' && body == std::string("COMMIT", 7)) {
            cut_ = true;  // the server has committed; its answer never arrives
            open = false;
          } else {
            open = SendAll(client, raw);
          }
        }
      }
      if (!open) break;
    }
    ::shutdown(client, SHUT_RDWR);
    ::shutdown(server, SHUT_RDWR);
    ::close(client);
    ::close(server);
  }

  int serverPort_;
  int cutAt_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> cut_{false};
  std::atomic<int> vehicleDays_{0};
  std::thread acceptor_;
  std::vector<std::thread> connections_;  // only the acceptor adds to it
};

std::string WithPort(std::string conninfo, int port) {
  const auto at = conninfo.find("port=");
  const auto end = conninfo.find(' ', at);
  conninfo.replace(at, end - at, fmt::format("port={}", port));
  return conninfo + " sslmode=disable gssencmode=disable";
}

class LostCommit : public test::ServerFleetDay {
 protected:
  DayRunCounts Run(const ConnectionSettings& settings) { return RunDay(settings, *map_); }

  // The run through a proxy that cuts the connection at the commit of the
  // third vehicle-day with fatigue rows.
  DayRunCounts RunCutAtACommit() {
    const std::string& direct = database_->Settings().dataSource;
    const int serverPort = std::stoi(direct.substr(direct.find("port=") + 5));
    CommitCuttingProxy proxy(serverPort, 3);
    ConnectionSettings settings = database_->Settings();
    settings.dataSource = WithPort(direct, proxy.Port());
    settings.reconnectSeconds = 60;
    const DayRunCounts counts = Run(settings);
    EXPECT_TRUE(proxy.Cut()) << "no vehicle-day commit was cut";
    return counts;
  }

  std::vector<std::vector<std::string>> ReportRows() { return ServerFleetDay::ReportRows(database_->Settings()); }
};

// On the day's first computation and on its re-run, the vehicle whose commit
// went unheard is computed again in place of what that commit wrote.
TEST_F(LostCommit, VehicleDayCommittedUnheardIsReplacedNotWrittenTwice) {
  const DayRunCounts first = RunCutAtACommit();
  EXPECT_EQ(first.outcome, DayOutcome::Complete) << first.detail;
  const auto afterFirst = ReportRows();
  const DayRunCounts rerun = RunCutAtACommit();
  EXPECT_EQ(rerun.outcome, DayOutcome::Complete) << rerun.detail;
  const auto afterRerun = ReportRows();

  for (const auto& table : kReportTables) database_->Execute("delete from " + table);
  database_->Execute("delete from cuserver_vehicle_days");
  Run(database_->Settings());
  const auto clean = ReportRows();
  ASSERT_FALSE(clean[3].empty()) << "the fleet drives long enough for fatigue rows";
  EXPECT_EQ(afterFirst, clean);
  EXPECT_EQ(afterRerun, clean);
  ReportDatabase db;
  db.OpenReportSession(database_->Settings());
  const auto days = Ledger(db).Days(kDayRunCommand, kDay, kDay);
  ASSERT_EQ(days.size(), 1u);
  EXPECT_EQ(days[0].outcome, DayOutcome::Complete) << days[0].detail;
}

}  // namespace
}  // namespace cuserver
