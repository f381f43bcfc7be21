// How the service answers while it works: service start-up to a connected,
// ready state, the control page's status request idle and during a day run of
// a simulated fleet, and the map layers as GeoJSON. The fleet's start
// directory is made once under the system's temporary folder (not timed).
//
// Reading back on the month fleet (2000 vehicles, a month of report rows; see
// month_fleet.hpp): a page of 500 report rows from the middle of the day
// (aim: under 300 ms), with and without a filter and a sort; a vehicle's day
// track (under 200 ms); the XLSX of the day's speeding rows (under 2 s); the
// month's summary per vehicle (under 1 s) and its XLSX (under 3 s), a
// vehicle's rows of the month (under 300 ms); and the status while that
// fleet's day is computed. On SQLite, and on
// PostgreSQL too when CUSERVER_TEST_PG is set. Their CPU column is this whole
// process's CPU time (the control server's threads included, the PostgreSQL
// server's not): on a busy machine it shows the work where the wall time
// shows the waiting.
//   bench_service [--benchmark_filter=...]   CUSERVER_BENCH_VEHICLES (default 50)
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/service/control_server.hpp"
#include "app/service/layers_geojson.hpp"
#include "app/service/service.hpp"
#include "app/simulate/simulator.hpp"
#include "db/schema.hpp"
#include "db/session.hpp"
#include "month_fleet.hpp"

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

ServiceOptions Options(const std::filesystem::path& directory = FleetDirectory()) {
  ServiceOptions options;
  options.startDirectory = directory;
  options.configFile = directory / "gpsserver.ini";
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
  Service service;
  std::unique_ptr<ControlServer> server;
  int port = 0;
  explicit RunningService(const std::filesystem::path& directory = FleetDirectory())
      : service(Options(directory), log) {
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

// One service per backend over the month fleet, started on first use.
std::map<std::string, std::unique_ptr<RunningService>>& MonthServices() {
  static std::map<std::string, std::unique_ptr<RunningService>> services;
  return services;
}

RunningService& MonthService(const std::string& backend) {
  auto& running = MonthServices()[backend];
  if (!running) running = std::make_unique<RunningService>(bench::MonthFleet(backend));
  return *running;
}

httplib::Result Get(httplib::Client& client, const std::string& path, benchmark::State& state) {
  auto answer = client.Get(path);
  if (!answer || answer->status != 200) state.SkipWithError(("no answer to " + path).c_str());
  return answer;
}

// The rows a request finds, with limit=0.
std::size_t TotalOf(httplib::Client& client, const std::string& query) {
  auto answer = client.Get("/api/reports?" + query + "&limit=0");
  if (!answer || answer->status != 200) return 0;
  return nlohmann::json::parse(answer->body)["total"].get<std::size_t>();
}

// A page of 500 rows from the middle of the day's (filtered) rows.
void BM_ReportPage(benchmark::State& state, const std::string& backend, const std::string& query) {
  httplib::Client client("127.0.0.1", MonthService(backend).port);
  client.set_keep_alive(true);
  const std::size_t total = TotalOf(client, query);
  const std::string path = fmt::format("/api/reports?{}&offset={}&limit=500", query, total / 2);
  std::size_t rows = 0;
  for (auto _ : state) {
    auto answer = Get(client, path, state);
    if (answer) rows = nlohmann::json::parse(answer->body)["rows"].size();
  }
  state.counters["rows of the day"] = static_cast<double>(total);
  state.counters["rows"] = static_cast<double>(rows);
}

// A different vehicle's track each time, of those with speeding rows.
void BM_Track(benchmark::State& state, const std::string& backend) {
  httplib::Client client("127.0.0.1", MonthService(backend).port);
  client.set_keep_alive(true);
  std::size_t features = 0;
  int vehicle = 0;
  for (auto _ : state) {
    const std::string simId = sim::SimulatedSimId(vehicle * 7 % bench::kMonthFleetVehicles);
    ++vehicle;
    auto answer = client.Get(fmt::format("/api/track?day={}&vehicle={}", bench::kMonthFleetDay, simId));
    if (answer && answer->status == 200) features = nlohmann::json::parse(answer->body)["features"].size();
  }
  state.counters["features"] = static_cast<double>(features);
}

void BM_SpeedingXlsx(benchmark::State& state, const std::string& backend) {
  httplib::Client client("127.0.0.1", MonthService(backend).port);
  client.set_read_timeout(std::chrono::seconds{60});
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto answer = Get(client, fmt::format("/api/reports.xlsx?day={}&kind=speeding", bench::kMonthFleetDay), state);
    if (answer) bytes = answer->body.size();
  }
  state.counters["rows"] = static_cast<double>(TotalOf(client, fmt::format("day={}&kind=speeding", bench::kMonthFleetDay)));
  state.counters["bytes"] = static_cast<double>(bytes);
}

// One answer over the month (a period's summary, its workbook, a vehicle's
// rows of the month), asked again each time.
void BM_MonthRead(benchmark::State& state, const std::string& backend, const std::string& path) {
  httplib::Client client("127.0.0.1", MonthService(backend).port);
  client.set_keep_alive(true);
  client.set_read_timeout(std::chrono::seconds{60});
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto answer = Get(client, path, state);
    if (answer) bytes = answer->body.size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

// The page's poll while the month fleet's day is computed (one run; its
// rows replace the day's own).
void BM_StatusDuringMonthFleetRun(benchmark::State& state, const std::string& backend) {
  RunningService& running = MonthService(backend);
  httplib::Client client("127.0.0.1", running.port);
  client.set_keep_alive(true);
  running.service.Submit("run-day", nlohmann::json{{"day", bench::kMonthFleetDay}});
  double slowestMs = 0;
  int duringRun = 0;
  for (auto _ : state) {
    const auto begun = std::chrono::steady_clock::now();
    auto answer = Get(client, "/api/status", state);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - begun;
    slowestMs = std::max(slowestMs, took.count());
    if (answer && !nlohmann::json::parse(answer->body)["current"].is_null()) ++duringRun;
  }
  state.counters["slowest ms"] = slowestMs;
  state.counters["answered during the run"] = duringRun;
  running.service.Queue().WaitIdle();
}

void RegisterMonthFleet(const std::string& backend) {
  const std::string day = fmt::format("day={}", bench::kMonthFleetDay);
  const std::vector<std::pair<std::string, std::string>> pages = {
      {"mileage", day + "&kind=mileage"},
      {"speeding", day + "&kind=speeding"},
      {"mileage_filter_sort", day + "&kind=mileage&filter=a01&sort=DISTANCE&order=desc"},
      {"speeding_filter_sort", day + "&kind=speeding&filter=a01&sort=SPEED&order=desc"},
      {"speeding_sort", day + "&kind=speeding&sort=MOTORCADENAME"},
  };
  for (const auto& [name, query] : pages) {
    benchmark::RegisterBenchmark(("BM_ReportPage/" + backend + "/" + name).c_str(), BM_ReportPage, backend, query)
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
  }
  benchmark::RegisterBenchmark(("BM_Track/" + backend).c_str(), BM_Track, backend)
      ->Unit(benchmark::kMillisecond)
      ->MeasureProcessCPUTime()
      ->UseRealTime();
  benchmark::RegisterBenchmark(("BM_SpeedingXlsx/" + backend).c_str(), BM_SpeedingXlsx, backend)
      ->Unit(benchmark::kMillisecond)
      ->MeasureProcessCPUTime()
      ->UseRealTime();
  const std::string month = "from=20140301&to=20140330";
  const std::string vehicle = sim::SimulatedSimId(bench::kMonthFleetVehicles / 2);
  const std::vector<std::pair<std::string, std::string>> reads = {
      {"summary_per_vehicle", "/api/summary?" + month + "&per=vehicle&limit=" + std::to_string(bench::kMonthFleetVehicles)},
      {"summary_per_fleet", "/api/summary?" + month + "&per=fleet"},
      {"summary_xlsx", "/api/summary.xlsx?" + month},
      {"vehicle_speeding_rows", "/api/reports?" + month + "&kind=speeding&vehicle=" + vehicle},
      {"vehicle_parking_rows", "/api/reports?" + month + "&kind=parking&vehicle=" + vehicle},
  };
  for (const auto& [name, path] : reads) {
    benchmark::RegisterBenchmark(("BM_MonthRead/" + backend + "/" + name).c_str(), BM_MonthRead, backend, path)
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
  }
  benchmark::RegisterBenchmark(("BM_StatusDuringMonthFleetRun/" + backend).c_str(), BM_StatusDuringMonthFleetRun,
                               backend)
      ->Unit(benchmark::kMicrosecond)
      ->Iterations(2000);
}

}  // namespace
}  // namespace cuserver

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  cuserver::RegisterMonthFleet("sqlite3");
  const char* pg = std::getenv("CUSERVER_TEST_PG");
  if (pg != nullptr && *pg != '\0') cuserver::RegisterMonthFleet("postgresql");
  benchmark::RunSpecifiedBenchmarks();
  cuserver::MonthServices().clear();
  benchmark::Shutdown();
  return 0;
}
