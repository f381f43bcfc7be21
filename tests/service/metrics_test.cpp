// The metrics text read back line by line, as a Prometheus scrape parses it.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/service/metrics.hpp"

namespace cuserver {
namespace {

struct Parsed {
  std::map<std::string, std::string> types;
  std::map<std::string, std::string> helps;
  // "name{label=value,...}" (values unescaped) -> the value's text
  std::map<std::string, std::string> samples;
  std::vector<std::string> errors;
};

// Reads a quoted label value from `at` (just past the opening quote).
std::string Unquoted(const std::string& line, size_t& at, bool& ok) {
  std::string value;
  for (; at < line.size() && line[at] != '"'; ++at) {
    if (line[at] != '\\') {
      value += line[at];
      continue;
    }
    const char next = ++at < line.size() ? line[at] : '\0';
    if (next == 'n') value += '\n';
    else if (next == '\\' || next == '"') value += next;
    else ok = false;
  }
  ok = ok && at < line.size();
  ++at;
  return value;
}

Parsed Parse(const std::string& text) {
  Parsed parsed;
  std::istringstream lines(text);
  std::string line;
  std::string family;  // of the last TYPE line
  while (std::getline(lines, line)) {
    if (line.starts_with("# HELP ")) {
      const size_t space = line.find(' ', 7);
      parsed.helps[line.substr(7, space - 7)] = line.substr(space + 1);
      continue;
    }
    if (line.starts_with("# TYPE ")) {
      const size_t space = line.find(' ', 7);
      family = line.substr(7, space - 7);
      if (parsed.types.contains(family)) parsed.errors.push_back("second TYPE: " + line);
      if (!parsed.helps.contains(family)) parsed.errors.push_back("TYPE before HELP: " + line);
      parsed.types[family] = line.substr(space + 1);
      continue;
    }
    size_t at = line.find_first_of("{ ");
    std::string key = line.substr(0, at);
    if (key != family) parsed.errors.push_back("sample outside its family: " + line);
    bool ok = true;
    if (at < line.size() && line[at] == '{') {
      key += '{';
      ++at;
      while (ok && at < line.size() && line[at] != '}') {
        const size_t equals = line.find("=\"", at);
        if (equals == std::string::npos) break;
        key += line.substr(at, equals - at) + '=';
        at = equals + 2;
        key += Unquoted(line, at, ok);
        if (at < line.size() && line[at] == ',') {
          key += ',';
          ++at;
        }
      }
      ok = ok && at < line.size() && line[at] == '}';
      key += '}';
      ++at;
    }
    if (!ok || at >= line.size() || line[at] != ' ') {
      parsed.errors.push_back("bad sample: " + line);
      continue;
    }
    parsed.samples[key] = line.substr(at + 1);
  }
  return parsed;
}

TEST(Metrics, EveryFamilyHasHelpAndTypeAndEverySampleParses) {
  ServiceMetrics metrics;
  metrics.ledgerRead = true;
  metrics.lastCompleteDay = 20140319;
  metrics.lastCompleteDayEndedSeconds = 1395252000;
  metrics.daysMissing = 2;
  metrics.daysFailed = 1;
  metrics.rowsWritten = {{"run-day", 1234567}, {"odd \"name\"\\\nx", 3}};
  metrics.rowsRefused = {{"run-day", 0}};
  metrics.vehiclesSkipped = {{"run-day", 4}};
  metrics.runs.byOutcome = {{"succeeded", 3}, {"could not run", 1}};
  metrics.runs.lastDurationSeconds = {{"run-day", 12.25}};
  metrics.qualityDay = 20140319;
  metrics.quality = {{"fixes", 900}, {"jumps", 2}};
  metrics.runs.listingsLeftOut = ListingsLeftOut{3, 1};
  metrics.runs.deliveries = {{"sent", 2}, {"failed", 1}};
  metrics.tokenFailures = TokenFailureCounts{5, 995};

  const Parsed parsed = Parse(ExpositionText(ServiceMetricFamilies(metrics)));
  EXPECT_TRUE(parsed.errors.empty()) << ::testing::PrintToString(parsed.errors);
  const std::map<std::string, std::string> types = {
      {"cuserver_ledger_up", "gauge"},
      {"cuserver_last_complete_day", "gauge"},
      {"cuserver_last_complete_day_timestamp_seconds", "gauge"},
      {"cuserver_days_missing", "gauge"},
      {"cuserver_days_failed", "gauge"},
      {"cuserver_rows_written_total", "counter"},
      {"cuserver_rows_refused_total", "counter"},
      {"cuserver_vehicles_skipped_total", "counter"},
      {"cuserver_run_duration_seconds", "gauge"},
      {"cuserver_runs_total", "counter"},
      {"cuserver_deliveries_total", "counter"},
      {"cuserver_track_quality_day", "gauge"},
      {"cuserver_track_quality_fixes", "gauge"},
      {"cuserver_catalogue_listings_left_out", "gauge"},
      {"cuserver_token_failures_total", "counter"},
  };
  EXPECT_EQ(parsed.types, types);
  for (const auto& [name, help] : parsed.helps) EXPECT_FALSE(help.empty()) << name;
  const std::map<std::string, std::string> samples = {
      {"cuserver_ledger_up", "1"},
      {"cuserver_last_complete_day", "20140319"},
      {"cuserver_last_complete_day_timestamp_seconds", "1395252000"},
      {"cuserver_days_missing", "2"},
      {"cuserver_days_failed", "1"},
      {"cuserver_rows_written_total{command=run-day}", "1234567"},
      {"cuserver_rows_written_total{command=odd \"name\"\\\nx}", "3"},
      {"cuserver_rows_refused_total{command=run-day}", "0"},
      {"cuserver_vehicles_skipped_total{command=run-day}", "4"},
      {"cuserver_run_duration_seconds{command=run-day}", "12.25"},
      {"cuserver_runs_total{outcome=could not run}", "1"},
      {"cuserver_runs_total{outcome=succeeded}", "3"},
      {"cuserver_deliveries_total{outcome=failed}", "1"},
      {"cuserver_deliveries_total{outcome=sent}", "2"},
      {"cuserver_track_quality_day", "20140319"},
      {"cuserver_track_quality_fixes{kind=fixes}", "900"},
      {"cuserver_track_quality_fixes{kind=jumps}", "2"},
      {"cuserver_catalogue_listings_left_out{reason=repeated}", "3"},
      {"cuserver_catalogue_listings_left_out{reason=withoutSimId}", "1"},
      {"cuserver_token_failures_total{answer=401}", "5"},
      {"cuserver_token_failures_total{answer=429}", "995"},
  };
  EXPECT_EQ(parsed.samples, samples);
}

TEST(Metrics, WithoutTheLedgerOnlyTheProcessFiguresAndLedgerDown) {
  ServiceMetrics metrics;
  metrics.lastCompleteDay = 20140319;  // not read this time: not shown
  metrics.runs.byOutcome = {{"failed", 2}};
  const Parsed parsed = Parse(ExpositionText(ServiceMetricFamilies(metrics)));
  EXPECT_TRUE(parsed.errors.empty()) << ::testing::PrintToString(parsed.errors);
  EXPECT_EQ(parsed.samples, (std::map<std::string, std::string>{{"cuserver_ledger_up", "0"},
                                                                 {"cuserver_runs_total{outcome=failed}", "2"},
                                                                 {"cuserver_token_failures_total{answer=401}", "0"},
                                                                 {"cuserver_token_failures_total{answer=429}", "0"}}));
  EXPECT_FALSE(parsed.types.contains("cuserver_last_complete_day"));
}

}  // namespace
}  // namespace cuserver
