// Speed of the map questions the reports ask for every fix: IsOnHighway on a
// network of 20000 highway segments, AreaNameAt on 50 areas, the distance
// between consecutive fixes, and the same questions asked of PostGIS when
// CUSERVER_TEST_PG names a server with PostGIS (bench/map/run starts one).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <random>

#include "map/distance.hpp"
#include "map/map_services.hpp"
#include "network.hpp"
#include "postgis_peer.hpp"
#include "support/temp_dir.hpp"

namespace cuserver::bench {
namespace {

constexpr double kTolerance = 30;
constexpr int kSegments = 20000;
constexpr int kAreas = 50;
constexpr int kQueries = 4096;

struct Loaded {
  BenchMap map;
  std::unique_ptr<MapServices> services;
};

// One map per network size, written as MapInfo files and loaded as the
// service loads its geoset.
const Loaded& MapOf(int segments) {
  static std::map<int, Loaded> maps;
  static TempDir folder;
  auto found = maps.find(segments);
  if (found != maps.end()) return found->second;
  Loaded loaded{MakeBenchMap(segments, kAreas, kQueries), CreateMapServices(kTolerance)};
  loaded.services->LoadGeoset(WriteBenchMap(loaded.map, folder.Path() / std::to_string(segments)));
  return maps.emplace(segments, std::move(loaded)).first->second;
}

PostgisPeer* Peer() {
  static std::unique_ptr<PostgisPeer> peer = [] {
    const char* connection = std::getenv("CUSERVER_TEST_PG");
    if (connection == nullptr || *connection == '\0') return std::unique_ptr<PostgisPeer>();
    auto made = std::make_unique<PostgisPeer>(connection);
    made->Load(MapOf(kSegments).map);
    return made;
  }();
  return peer.get();
}

void BM_IsOnHighway(benchmark::State& state) {
  const Loaded& loaded = MapOf(static_cast<int>(state.range(0)));
  const auto& queries = loaded.map.highwayQueries;
  size_t i = 0;
  int on = 0;
  for (auto _ : state) {
    const LonLat& p = queries[i++ % queries.size()];
    on += loaded.services->IsOnHighway(p.latitude, p.longitude);
  }
  benchmark::DoNotOptimize(on);
  state.SetItemsProcessed(state.iterations());
  state.counters["on_share"] = static_cast<double>(on) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_IsOnHighway)->Arg(2000)->Arg(kSegments)->Arg(200000);

void BM_AreaNameAt(benchmark::State& state) {
  const Loaded& loaded = MapOf(kSegments);
  const auto& queries = loaded.map.areaQueries;
  size_t i = 0;
  for (auto _ : state) {
    const LonLat& p = queries[i++ % queries.size()];
    benchmark::DoNotOptimize(loaded.services->AreaNameAt(p.latitude, p.longitude));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AreaNameAt);

// Consecutive fixes: steps of 1 m to 500 m.
std::vector<std::pair<LonLat, LonLat>> Steps() {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<std::pair<LonLat, LonLat>> steps;
  for (int k = 0; k < kQueries; ++k) {
    const LonLat a{100 + 6 * unit(random), 22 + 6 * unit(random)};
    const double d = 0.005 * unit(random);
    steps.push_back({a, {a.longitude + d * (unit(random) - 0.5), a.latitude + d * (unit(random) - 0.5)}});
  }
  return steps;
}

template <double (*Distance)(double, double, double, double)>
void BM_Distance(benchmark::State& state) {
  const auto steps = Steps();
  size_t i = 0;
  double sum = 0;
  for (auto _ : state) {
    const auto& [a, b] = steps[i++ % steps.size()];
    sum += Distance(a.longitude, a.latitude, b.longitude, b.latitude);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Distance<WgsDistanceMetres>)->Name("BM_DistanceMetres");
BENCHMARK(BM_Distance<GeodesicMetres>)->Name("BM_GeographicLibGeodesic");

void BM_PostgisIsOnHighway(benchmark::State& state) {
  PostgisPeer* peer = Peer();
  if (peer == nullptr) {
    state.SkipWithError("CUSERVER_TEST_PG is not set");
    return;
  }
  const Loaded& loaded = MapOf(kSegments);
  const auto& queries = loaded.map.highwayQueries;
  int disagreements = 0;
  for (const auto& p : queries) {
    disagreements += peer->IsOnHighway(p, kTolerance) != (loaded.services->IsOnHighway(p.latitude, p.longitude) == 1);
  }
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(peer->IsOnHighway(queries[i++ % queries.size()], kTolerance));
  state.SetItemsProcessed(state.iterations());
  state.counters["disagreements"] = disagreements;
}
BENCHMARK(BM_PostgisIsOnHighway)->UseRealTime();

void BM_PostgisAreaNameAt(benchmark::State& state) {
  PostgisPeer* peer = Peer();
  if (peer == nullptr) {
    state.SkipWithError("CUSERVER_TEST_PG is not set");
    return;
  }
  const Loaded& loaded = MapOf(kSegments);
  const auto& queries = loaded.map.areaQueries;
  int disagreements = 0;
  for (const auto& p : queries) {
    std::string ours = loaded.services->AreaNameAt(p.latitude, p.longitude);
    if (ours == "区域外面") ours.clear();
    disagreements += peer->AreaNamesAt(p) != ours;
  }
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(peer->AreaNamesAt(queries[i++ % queries.size()]));
  state.SetItemsProcessed(state.iterations());
  state.counters["disagreements"] = disagreements;
}
BENCHMARK(BM_PostgisAreaNameAt)->UseRealTime();

void BM_LoadGeoset(benchmark::State& state) {
  MapOf(kSegments);
  TempDir folder;
  const auto geoset = WriteBenchMap(MapOf(kSegments).map, folder.Path());
  for (auto _ : state) {
    auto services = CreateMapServices(kTolerance);
    services->LoadGeoset(geoset);
  }
}
BENCHMARK(BM_LoadGeoset)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace cuserver::bench

BENCHMARK_MAIN();
