// Every report over one vehicle day of 86400 fixes (one a second), with a map
// and database that answer at once, so the figure is the computations' own.

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "reports/area_speeding.hpp"
#include "reports/fatigue.hpp"
#include "reports/lost_contact.hpp"
#include "reports/mileage.hpp"
#include "reports/parking.hpp"
#include "reports/road_speeding.hpp"

#include "allocation_count.hpp"

namespace cuserver {
namespace {

class CountingSink : public RowSink {
 public:
  bool Write(ReportRow row, std::string_view) override {
    for (const RowValue& value : row.values) bytes += value.Text().size();
    ++rows;
    return true;
  }
  std::size_t bytes = 0;
  int rows = 0;
};

// A day table of a few rows for every episode's distance.
class FewRowsReader : public FixReader {
 public:
  void ForEachFix(const std::string&, const RowFunction& onRow) override {
    onRow("116.30", "39.90");
    onRow("116.31", "39.91");
    onRow("116.32", "39.92");
  }
};

class FlatMap : public GeoServices {
 public:
  int IsOnHighway(double latitude, double) override { return latitude > 39.95 ? 1 : 0; }
  std::string AreaNameAt(double latitude, double) override { return latitude < 39.92 ? "学校区" : "区域外面"; }
  double DistanceMetres(double lon1, double lat1, double lon2, double lat2) override {
    return std::hypot((lon2 - lon1) * 85000.0, (lat2 - lat1) * 111000.0);
  }
};

// Driving with speeds swinging between 40 and 140 km/h and a ten-minute stop
// every two hours.
struct Day {
  Day() {
    settings = std::filesystem::temp_directory_path() / "cuserver-bench-report.ini";
    std::ofstream(settings) << "[General]\nUSECAR=TRUE\nBEGINTIME=06:30\nENDTIME=20:30\n"
                               "GENERALWAY=80\nHIGHWAY=120\nHIGHSPEED=250\nSPEEDTIMESPAN=60\n";
    for (int second = 0; second < 86400; ++second) {
      const bool stopped = second % 7200 < 600;
      const double speed = stopped ? 0.0 : 90.0 + 50.0 * std::sin(second / 300.0);
      TrackPoint& fix = track.Append();
      fix.time = fmt::format("2014-03-19 {:02}:{:02}:{:02}", second / 3600, second / 60 % 60, second % 60);
      fix.longitude = fmt::format("{:.6f}", 116.3 + 0.0002 * (second % 3000));
      fix.latitude = fmt::format("{:.6f}", 39.9 + 0.1 * std::fabs(std::sin(second / 5000.0)));
      fix.simId.assign(11, '1');
      fix.speed = fmt::format("{:.1f}", speed);
      fix.alarmState.assign(1, '0');
    }
  }
  ~Day() { std::filesystem::remove(settings); }

  ReportContext Context() { return {track, sink, reader, map, limits, settings, diagnostics}; }

  TrackBuffer track;
  CountingSink sink;
  FewRowsReader reader;
  FlatMap map;
  SpeedLimitTable limits{{"13900000002", "70", "110"}};
  std::filesystem::path settings;
  Diagnostics diagnostics{nullptr};
};

Day& TheDay() {
  static Day day;
  return day;
}

template <typename Report>
void RunReport(benchmark::State& state, Report report) {
  Day& day = TheDay();
  const ReportContext ctx = day.Context();
  const int rowsBefore = day.sink.rows;
  long allocationsDuring = 0;
  for (auto _ : state) {
    const long before = AllocationCount();
    benchmark::DoNotOptimize(report(ctx, day.track.Count()));
    allocationsDuring += AllocationCount() - before;
  }
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["rows"] = static_cast<double>(day.sink.rows - rowsBefore) / iterations;
  state.counters["allocs"] = static_cast<double>(allocationsDuring) / iterations;
  state.SetItemsProcessed(state.iterations() * day.track.Count());
  day.diagnostics.FlushMessages();
}

void BM_Parking(benchmark::State& state) { RunReport(state, ComputeParking); }
void BM_LostContact(benchmark::State& state) { RunReport(state, ComputeLostContact); }
void BM_Fatigue(benchmark::State& state) { RunReport(state, ComputeFatigue); }
void BM_RoadSpeeding(benchmark::State& state) { RunReport(state, ComputeRoadSpeeding); }
void BM_Mileage(benchmark::State& state) { RunReport(state, ComputeMileage); }
void BM_AreaSpeeding(benchmark::State& state) {
  RunReport(state, [](const ReportContext& ctx, int n) {
    return ComputeAreaSpeeding(ctx, n, "11111111111", "1", "学校区", "100");
  });
}
void BM_AllReports(benchmark::State& state) {
  RunReport(state, [](const ReportContext& ctx, int n) {
    ComputeAreaSpeeding(ctx, n, "11111111111", "1", "学校区", "100");
    ComputeParking(ctx, n);
    ComputeLostContact(ctx, n);
    ComputeFatigue(ctx, n);
    ComputeRoadSpeeding(ctx, n);
    return ComputeMileage(ctx, n);
  });
}

BENCHMARK(BM_Parking)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LostContact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fatigue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoadSpeeding)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mileage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AreaSpeeding)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllReports)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace cuserver

BENCHMARK_MAIN();
