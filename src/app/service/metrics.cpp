#include "app/service/metrics.hpp"

#include <fmt/format.h>

#include <cmath>

namespace cuserver {
namespace {

// HELP text escapes backslash and line feed; a label value also the double quote.
std::string Escaped(std::string_view text, bool quote) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' && quote) {
      out += "\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

std::string ValueText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  // Whole numbers (days as yyyymmdd, Unix seconds, counts) are written in
  // full rather than in exponent form.
  if (std::abs(value) < 1e15 && value == std::floor(value)) return fmt::format("{}", static_cast<long long>(value));
  return fmt::format("{}", value);
}

MetricFamily Family(std::string name, std::string help, std::string type) {
  return MetricFamily{std::move(name), std::move(help), std::move(type), {}};
}

MetricFamily ByLabel(std::string name, std::string help, std::string type, const std::string& label,
                     const auto& values) {
  MetricFamily family = Family(std::move(name), std::move(help), std::move(type));
  for (const auto& [key, value] : values) {
    family.samples.push_back({{{label, key}}, static_cast<double>(value)});
  }
  return family;
}

}  // namespace

std::string ExpositionText(const std::vector<MetricFamily>& families) {
  std::string text;
  for (const MetricFamily& family : families) {
    text += fmt::format("# HELP {} {}\n# TYPE {} {}\n", family.name, Escaped(family.help, false), family.name,
                        family.type);
    for (const MetricSample& sample : family.samples) {
      text += family.name;
      if (!sample.labels.empty()) {
        text += '{';
        for (size_t i = 0; i < sample.labels.size(); ++i) {
          if (i > 0) text += ',';
          text += fmt::format("{}=\"{}\"", sample.labels[i].first, Escaped(sample.labels[i].second, true));
        }
        text += '}';
      }
      text += ' ';
      text += ValueText(sample.value);
      text += '\n';
    }
  }
  return text;
}

std::vector<MetricFamily> ServiceMetricFamilies(const ServiceMetrics& metrics) {
  std::vector<MetricFamily> families;
  auto single = [&families](std::string name, std::string help, std::string type, std::optional<double> value) {
    MetricFamily family = Family(std::move(name), std::move(help), std::move(type));
    if (value) family.samples.push_back({{}, *value});
    families.push_back(std::move(family));
  };
  single("cuserver_ledger_up", "1 when the day ledger in the report database was read for this scrape, else 0",
         "gauge", metrics.ledgerRead ? 1 : 0);
  if (metrics.ledgerRead) {
    auto optional = [](const std::optional<long long>& value) {
      return value ? std::optional<double>(static_cast<double>(*value)) : std::nullopt;
    };
    single("cuserver_last_complete_day", "The latest day whose day run is complete, as the number yyyymmdd", "gauge",
           optional(metrics.lastCompleteDay));
    single("cuserver_last_complete_day_timestamp_seconds",
           "When the latest complete day's run ended, in Unix seconds", "gauge",
           optional(metrics.lastCompleteDayEndedSeconds));
    single("cuserver_days_missing", "Days of the catch-up window with a GPS table and no day run yet", "gauge",
           metrics.daysMissing);
    single("cuserver_days_failed",
           "Days of the catch-up window whose day run failed, was incomplete or waits for an operator", "gauge",
           metrics.daysFailed);
    families.push_back(ByLabel("cuserver_rows_written_total",
                               "Report rows written, summed over the day ledger's last attempt of each day and shard",
                               "counter", "command", metrics.rowsWritten));
    families.push_back(ByLabel("cuserver_rows_refused_total",
                               "Report rows the database refused, summed over the day ledger", "counter", "command",
                               metrics.rowsRefused));
    families.push_back(ByLabel("cuserver_vehicles_skipped_total",
                               "Vehicles not computed (track not read, connection lost), summed over the day ledger",
                               "counter", "command", metrics.vehiclesSkipped));
    single("cuserver_track_quality_day",
           "The latest day whose day run counted what the vehicles' trackers sent, as the number yyyymmdd", "gauge",
           optional(metrics.qualityDay));
    families.push_back(ByLabel("cuserver_track_quality_fixes",
                               "Fixes of that day summed over its vehicles: all of them (fixes), and those without a "
                               "usable position, of another day, at the same time or earlier than the fix before, "
                               "and steps faster than 300 km/h (jumps)",
                               "gauge", "kind", metrics.quality));
  }
  std::vector<std::pair<std::string, long long>> leftOut;
  if (metrics.runs.listingsLeftOut) {
    leftOut = {{"repeated", metrics.runs.listingsLeftOut->listedAgain},
               {"withoutSimId", metrics.runs.listingsLeftOut->withoutSimId}};
  }
  families.push_back(ByLabel("cuserver_catalogue_listings_left_out",
                             "Vehicle catalogue listings the last day run of this service process left out: later "
                             "listings of a SIMID listed before (repeated) and listings without a SIMID",
                             "gauge", "reason", leftOut));
  families.push_back(ByLabel("cuserver_run_duration_seconds",
                             "Duration of the last run of each command in this service process", "gauge", "command",
                             metrics.runs.lastDurationSeconds));
  families.push_back(ByLabel("cuserver_deliveries_total",
                             "Attempts at sending a day's or month's reports by e-mail in this service process, by "
                             "outcome (a failed one is retried)",
                             "counter", "outcome", metrics.runs.deliveries));
  const std::vector<std::pair<std::string, long long>> tokenFailures = {
      {"401", metrics.tokenFailures.refused}, {"429", metrics.tokenFailures.heldOff}};
  families.push_back(ByLabel("cuserver_token_failures_total",
                             "Control page requests with a wrong token in this service process, by answer: 401, or "
                             "429 when their client address had sent too many in a row",
                             "counter", "answer", tokenFailures));
  families.push_back(ByLabel("cuserver_runs_total", "Command runs ended in this service process, by outcome",
                             "counter", "outcome", metrics.runs.byOutcome));
  return families;
}

}  // namespace cuserver
