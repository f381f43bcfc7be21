// GET /api/track over a simulated fleet day computed by the service: the
// line holds every fix with a position, the events are the vehicle's rows.

#include <gtest/gtest.h>

#include <httplib.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "app/simulate/simulator.hpp"
#include "service_fixture.hpp"

namespace cuserver {
namespace {

constexpr int kVehicles = 6;

std::string Count(StartDirectory& start, const std::string& query) {
  return start.Rows("select count(*) as n from " + query, {"n"}).at(0).at(0);
}

TEST(TrackRoute, ALineOfTheFixesWithAPositionAndAnEventPerReportRow) {
  ServiceFixture fixture;
  fixture.clock.Set(2014, 3, 20, 10);
  sim::SimulationOptions simulation;
  simulation.vehicles = kVehicles;
  simulation.intervalSeconds = 60;
  simulation.dayKey = "20140319";
  simulation.seed = 7;
  simulation.highwaySegments = 40;
  simulation.areas = 3;
  sim::Simulate(fixture.start.Db(), fixture.start.Path() / "HighWay", simulation);
  Service& service = fixture.Started();
  ControlServer server(service, ControlServerOptions{"127.0.0.1", 0, ""});
  httplib::Client client("127.0.0.1", server.Start());
  service.Submit("run-day", nlohmann::json{{"day", "20140319"}});
  service.Queue().WaitIdle();

  int events = 0;
  int lost = 0;
  for (int i = 0; i < kVehicles; ++i) {
    const std::string simId = sim::SimulatedSimId(i);
    const std::string of = " where SIMID='" + simId + "'";
    const std::string positioned =
        Count(fixture.start, "GPSDATA20140319" + of + " and longitude is not null and latitude is not null");
    const std::string rows = std::to_string(
        std::stoi(Count(fixture.start, "speedalarm201403" + of + " and TIMELOG like '2014-03-19%'")) +
        std::stoi(Count(fixture.start, "parkinglog201403" + of + " and BEGINTIME like '2014-03-19%'")) +
        std::stoi(Count(fixture.start, "CONTACTALARM" + of + " and BEGINTIME like '2014-03-19%'")));
    auto answer = client.Get("/api/track?day=20140319&vehicle=" + simId);
    ASSERT_TRUE(answer);
    if (Count(fixture.start, "GPSDATA20140319" + of) == "0") {
      EXPECT_EQ(answer->status, 404) << simId << " has no fixes";
      continue;
    }
    ASSERT_EQ(answer->status, 200) << answer->body;
    const nlohmann::json track = nlohmann::json::parse(answer->body);
    const nlohmann::json& line = track["features"][0];
    EXPECT_EQ(line["geometry"]["type"], "LineString");
    EXPECT_EQ(std::to_string(line["geometry"]["coordinates"].size()), positioned) << simId;
    EXPECT_EQ(line["properties"]["simid"], simId);
    EXPECT_EQ(std::to_string(track["features"].size() - 1), rows) << simId;
    EXPECT_TRUE(track["notes"].empty()) << track["notes"];
    events += static_cast<int>(track["features"].size()) - 1;

    // One time a coordinate, in order, so that an event's time finds its
    // place on the line; a loss of contact is marked at the last fix heard.
    const nlohmann::json& coordinates = line["geometry"]["coordinates"];
    const auto times = line["properties"]["times"].get<std::vector<std::string>>();
    ASSERT_EQ(times.size(), coordinates.size()) << simId;
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end())) << simId;
    for (const nlohmann::json& event : track["features"]) {
      if (event["properties"]["event"] != "lost") continue;
      const std::string begin = event["properties"]["begin"];
      const auto after = std::upper_bound(times.begin(), times.end(), begin);
      const auto heard = after == times.begin() ? 0 : static_cast<std::size_t>(after - times.begin() - 1);
      EXPECT_EQ(event["geometry"]["coordinates"], coordinates[heard]) << simId << " " << begin;
      ++lost;
    }
  }
  EXPECT_GT(events, 0) << "the simulated day wrote no report row to compare";
  EXPECT_GT(lost, 0) << "the simulated day lost contact with no vehicle";

  for (const auto& [query, status] : std::vector<std::pair<std::string, int>>{
           {"day=20140230&vehicle=" + sim::SimulatedSimId(0), 400},
           {"day=20140319", 400},
           {"day=20140318&vehicle=" + sim::SimulatedSimId(0), 404},
           {"day=20140319&vehicle=13000000000", 404}}) {
    auto answer = client.Get("/api/track?" + query);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, status) << query << " " << answer->body;
    EXPECT_TRUE(nlohmann::json::parse(answer->body).contains("error")) << query;
  }
}

}  // namespace
}  // namespace cuserver
