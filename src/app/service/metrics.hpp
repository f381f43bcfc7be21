#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cuserver {

// The Prometheus text exposition format, version 0.0.4: no I/O, no database.
inline constexpr std::string_view kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

struct MetricSample {
  std::vector<std::pair<std::string, std::string>> labels;  // name, value (any text; escaped on output)
  double value = 0;
};

struct MetricFamily {
  std::string name;
  std::string help;  // any text; escaped on output
  std::string type;  // "counter" or "gauge"
  std::vector<MetricSample> samples;
};

// "# HELP", "# TYPE" and one line per sample for each family, in order.
std::string ExpositionText(const std::vector<MetricFamily>& families);

// The vehicle catalogue's listings a day run left out.
struct ListingsLeftOut {
  long long listedAgain = 0;   // later listings of a SIMID listed before
  long long withoutSimId = 0;  // listings without a SIMID
};

// The command runs of one service process, counted since it started.
struct RunStats {
  std::map<std::string, long long> byOutcome;              // job outcome text -> runs
  std::map<std::string, double> lastDurationSeconds;       // command name -> its last run's duration
  std::optional<ListingsLeftOut> listingsLeftOut;          // of the last day this process's day runs computed
  std::map<std::string, long long> deliveries;             // e-mail delivery attempts: "sent", "failed" -> count
};

// Requests to the control page with a wrong token, counted since the
// service started, by their answer.
struct TokenFailureCounts {
  long long refused = 0;  // 401: the token is wrong
  long long heldOff = 0;  // 429: their address had sent too many wrong ones
};

// What the service tells a scrape. The day and row figures come from the day
// ledger, which every process computing into the database keeps; when it
// could not be read, ledgerRead is false and they are left out.
struct ServiceMetrics {
  bool ledgerRead = false;
  std::optional<long long> lastCompleteDay;         // yyyymmdd as a number
  std::optional<long long> lastCompleteDayEndedSeconds;  // Unix time of its end
  int daysMissing = 0;  // catch-up window days not computed
  int daysFailed = 0;   // catch-up window days failed, incomplete or waiting for an operator
  // Sums over the ledger's day rows (the last attempt of each day and shard),
  // by command: a day computed again replaces its figures, so a sum can fall.
  std::map<std::string, long long> rowsWritten;
  std::map<std::string, long long> rowsRefused;
  std::map<std::string, long long> vehiclesSkipped;
  // The track quality counts (fixes, withoutPosition, otherDay, sameTime,
  // backwards, jumps) summed over the vehicles of the latest day run day that
  // counted them.
  std::optional<long long> qualityDay;  // yyyymmdd as a number
  std::vector<std::pair<std::string, long long>> quality;
  RunStats runs;  // counted in this process
  TokenFailureCounts tokenFailures;  // counted in this process
};

std::vector<MetricFamily> ServiceMetricFamilies(const ServiceMetrics& metrics);

}  // namespace cuserver
