// How the service answers while it works: service start-up to a connected,
// ready state, the control page's status request idle and during a day run of
// a simulated fleet, and the map layers as GeoJSON. The fleet's start
// directory is made once under the system's temporary folder (not timed).
//   bench_service [--benchmark_filter=...]   CUSERVER_BENCH_VEHICLES (default 50)
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>

#include <fmt/format.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/service/control_server.hpp"
#include "app/service/layers_geojson.hpp"
#include "app/service/service.hpp"
#include "app/simulate/simulator.hpp"
#include "db/schema.hpp"
#include "db/session.hpp"

namespace cuserver {
namespace {

constexpr const char* kDay = "20140319";

const std::filesystem::path& FleetDirectory() {
  static const std::filesystem::path dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "cuserver-bench-service-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    const std::filesystem::path path = pattern;
    std::ofstream(path / "gpsserver.ini") << "[General]\nBackend=sqlite3\nDataSource=fleet.db\n";
    std::ofstream(path / "report.ini") << "[General]\nUSECAR=TRUE\nBEGINTIME=06:30\nENDTIME=20:30\n"
                                          "GENERALWAY=80\nHIGHWAY=120\nHIGHSPEED=200\nSPEEDTIMESPAN=30\n";
    ConnectionSettings settings;
    settings.dataSource = (path / "fleet.db").string();
    ReportDatabase db;
    db.OpenReportSession(settings);
    InitDatabase(db);
    sim::SimulationOptions options;
    const char* vehicles = std::getenv("CUSERVER_BENCH_VEHICLES");
    options.vehicles = vehicles != nullptr ? std::atoi(vehicles) : 50;
    options.dayKey = kDay;
    sim::Simulate(db, path / "HighWay", options);
    return path;
  }();
  return dir;
}

ServiceOptions Options() {
  ServiceOptions options;
  options.startDirectory = FleetDirectory();
  options.configFile = FleetDirectory() / "gpsserver.ini";
  options.connectPause = std::chrono::milliseconds{0};
  options.tickPeriod = std::chrono::milliseconds{0};
  return options;
}

// From nothing to a service whose map is loaded, whose database start-up has
// ended and whose page answers (the one-second pause after connecting left out).
void BM_ServiceStartUp(benchmark::State& state) {
  FleetDirectory();
  for (auto _ : state) {
    ServiceLog log;
    Service service(Options(), log);
    service.Start();
    ControlServer server(service, ControlServerOptions{"127.0.0.1", 0, ""});
    const int port = server.Start();
    service.Queue().WaitIdle();
    auto answer = httplib::Client("127.0.0.1", port).Get("/api/status");
    if (!answer || answer->status != 200) state.SkipWithError("no status");
  }
}
BENCHMARK(BM_ServiceStartUp)->Unit(benchmark::kMillisecond)->Iterations(5);

struct RunningService {
  ServiceLog log;
  Service service{Options(), log};
  std::unique_ptr<ControlServer> server;
  int port = 0;
  RunningService() {
    service.Start();
    server = std::make_unique<ControlServer>(service, ControlServerOptions{"127.0.0.1", 0, ""});
    port = server->Start();
    service.Queue().WaitIdle();
  }
};

void BM_StatusIdle(benchmark::State& state) {
  RunningService running;
  httplib::Client client("127.0.0.1", running.port);
  client.set_keep_alive(true);
  for (auto _ : state) benchmark::DoNotOptimize(client.Get("/api/status"));
}
BENCHMARK(BM_StatusIdle)->Unit(benchmark::kMicrosecond);

// The page's once-a-second poll while the worker computes the day: the run is
// queued again whenever it ends, so every request meets a run in progress.
void BM_StatusDuringDayRun(benchmark::State& state) {
  RunningService running;
  httplib::Client client("127.0.0.1", running.port);
  client.set_keep_alive(true);
  int runs = 0;
  for (auto _ : state) {
    if (!running.service.Queue().Current() && running.service.Queue().Waiting().empty()) {
      running.service.Submit("run-day", nlohmann::json{{"day", kDay}});
      ++runs;
    }
    benchmark::DoNotOptimize(client.Get("/api/status"));
  }
  state.counters["day runs"] = runs;
  running.service.Queue().WaitIdle();
}
BENCHMARK(BM_StatusDuringDayRun)->Unit(benchmark::kMicrosecond)->MinTime(5.0);

void BM_LayersGeoJson(benchmark::State& state) {
  const auto geoset = FleetDirectory() / "HighWay" / "HIGHWAY.gst";
  size_t bytes = 0;
  for (auto _ : state) bytes = GeosetLayersGeoJson(geoset).size();
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_LayersGeoJson)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace cuserver

BENCHMARK_MAIN();
