#include "fakes.hpp"

#include <fmt/format.h>

namespace cuserver::testing {

std::string TrackTime(int secondsOfDay, const std::string& day) {
  return fmt::format("{} {:02}:{:02}:{:02}", day, secondsOfDay / 3600, secondsOfDay / 60 % 60, secondsOfDay % 60);
}

ReportBench::ReportBench()
    : diagnostics([this](const std::string& line) { diagnosticLines.push_back(line); }), sink(diagnostics) {}

ReportContext ReportBench::Context() {
  return ReportContext{track, sink, fixes, geo, speedLimits, settingsFile, diagnostics};
}

std::vector<std::string> ReportBench::Statements() const {
  std::vector<std::string> texts;
  for (const auto& statement : sink.statements) texts.push_back(statement.text);
  return texts;
}

}  // namespace cuserver::testing
