// How long one vehicle's day takes to load, and a busy tracker's whole day:
//   bench_db                              SQLite file in a temp folder
//   CUSERVER_TEST_PG=... bench_db         also PostgreSQL
//   CUSERVER_TEST_ODBC=... bench_db       also PostgreSQL through psqlODBC
// The day table holds 50 vehicles; the loaded one has range(0) fixes.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <map>
#include <memory>

#include "db/loaders.hpp"
#include "db/schema.hpp"
#include "support/db_fixture.hpp"

namespace cuserver::test {
namespace {

constexpr int kVehicles = 50;

// One database per backend and fix count, filled once for all repetitions
// and dropped before the program ends (the server schemas need a live SOCI).
std::map<std::pair<std::string, int>, std::unique_ptr<IsolatedDatabase>> databases;

IsolatedDatabase& Filled(const std::string& backend, int fixes) {
  auto& slot = databases[{backend, fixes}];
  if (!slot) {
    slot = std::make_unique<IsolatedDatabase>(backend);
    ReportDatabase& db = slot->Db();
    CreateGpsDayTable(db, "20140319");
    for (int v = 0; v < kVehicles; ++v) {
      db.ExecuteStatement(fmt::format(
          "insert into GPSDATA20140319 with recursive k(x) as (select 0 union all select x + 1 from k where x < {}) "
          "select '{}', '2014-03-19 ' || (x / 36000 % 3) || (x / 3600 % 10) || ':' || (x / 600 % 6) || "
          "(x / 60 % 10) || ':' || (x / 10 % 6) || (x % 10), 116.397 + x * 0.00001, 39.908, 36.5, '0' from k",
          fixes - 1, 1390000000 + v));
    }
  }
  return *slot;
}

void LoadOneVehicleDay(benchmark::State& state, const std::string& backend) {
  const int fixes = static_cast<int>(state.range(0));
  IsolatedDatabase* database = nullptr;
  try {
    database = &Filled(backend, fixes);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  TrackBuffer track;
  for (auto _ : state) {
    const int loaded = LoadDayTrack(database->Db(), "1390000025", "20140319", track);
    if (loaded != fixes) state.SkipWithError("wrong fix count");
    benchmark::DoNotOptimize(track[0].time.data());
  }
  state.SetItemsProcessed(state.iterations() * fixes);
}

void RegisterAll() {
  for (const auto& backend : AvailableBackends()) {
    benchmark::RegisterBenchmark(("LoadDayTrack/" + backend).c_str(), LoadOneVehicleDay, backend)
        ->Arg(2880)
        ->Arg(86400)
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace
}  // namespace cuserver::test

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  cuserver::test::RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  cuserver::test::databases.clear();
}
