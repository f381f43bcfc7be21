#include "app/run_summary.hpp"

#include <fmt/format.h>

#include "app/command.hpp"
#include "reports/translate.hpp"

namespace cuserver {

std::string DayRunSummaryLine(const std::string& day, const DayRunCounts& counts) {
  const DayCounts& recorded = counts.recorded;
  const bool endedEarly = counts.outcome == DayOutcome::Failed || counts.stopped || counts.lost > 0;
  std::string notes;
  if (counts.catalogue.Total() > 0) {
    notes = TrFormat(", catalogue: {} listings left out ({} repeated, {} without SIMID)", counts.catalogue.Total(),
                        counts.catalogue.listedAgain, counts.catalogue.withoutSimId);
  }
  return TrFormat("{}: {} of {} vehicles computed ({} without fixes), {} rows written, {} refused, {} reports "
                  "failed, {} skipped{}{}",
                     day, recorded.computed, recorded.vehicles, counts.withoutFixes, recorded.rowsWritten,
                     recorded.rowsRefused, recorded.reportsFailed, recorded.skipped, notes,
                     endedEarly ? Tr(" (run ended early)") : "");
}

nlohmann::json DaySummaryJson(const DaySummary& summary) {
  if (!summary.notComputed.empty()) {
    return {{"day", summary.day}, {"outcome", DayOutcomeText(DayOutcome::CouldNotRun)},
            {"detail", summary.notComputed}};
  }
  const DayRunCounts& counts = summary.counts;
  return {{"day", summary.day},
          {"outcome", DayOutcomeText(counts.outcome)},
          {"vehicles", counts.recorded.vehicles},
          {"computed", counts.recorded.computed},
          {"withoutFixes", counts.withoutFixes},
          {"skipped", counts.recorded.skipped},
          {"outsideShard", counts.outsideShard},
          {"rowsWritten", counts.rowsByTable},
          {"rowsRefused", counts.recorded.rowsRefused},
          {"reportsFailed", counts.recorded.reportsFailed},
          {"catalogue",
           {{"listedAgain", counts.catalogue.listedAgain},
            {"withoutSimId", counts.catalogue.withoutSimId},
            {"repeatedSimIds", counts.catalogue.repeated}}},
          {"quality", TrackQualityJson(counts.quality)},
          {"detail", counts.detail}};
}

nlohmann::json TrackQualityJson(const TrackQuality& quality) {
  return {{"fixes", quality.fixes},         {"withoutPosition", quality.withoutPosition},
          {"otherDay", quality.otherDay},   {"sameTime", quality.sameTime},
          {"backwards", quality.backwards}, {"jumps", quality.jumps}};
}

nlohmann::json RowsWrittenJson(const std::vector<DaySummary>& days) {
  std::map<std::string, int> total;
  for (const DaySummary& day : days) {
    for (const auto& [table, rows] : day.counts.rowsByTable) total[table] += rows;
  }
  return total;
}

void AddDaysToSummary(nlohmann::json& summary, const std::vector<DaySummary>& days) {
  summary["days"] = nlohmann::json::array();
  for (const DaySummary& day : days) summary["days"].push_back(DaySummaryJson(day));
  summary["rowsWritten"] = RowsWrittenJson(days);
}

nlohmann::json LineAlarmDayJson(const std::string& day, const LineAlarmRunCounts& counts) {
  return {{"day", day},
          {"vehicles", counts.vehicles},
          {"scanned", counts.scanned},
          {"fixes", counts.fixes},
          {"opened", counts.opened},
          {"completed", counts.closed},
          {"leftOpen", counts.leftOpen},
          {"refused", counts.refused},
          {"complete", counts.complete},
          {"catalogue",
           {{"listedAgain", counts.catalogue.listedAgain},
            {"withoutSimId", counts.catalogue.withoutSimId},
            {"repeatedSimIds", counts.catalogue.repeated}}}};
}

nlohmann::json RoadImportJson(const RoadImportCounts& counts) {
  nlohmann::json tables = nlohmann::json::object();
  for (RoadInfoTable table : kRoadInfoTables) {
    const RoadTableCounts& of = counts.Of(table);
    tables[std::string(RoadInfoTableName(table))] = {
        {"missing", of.missing}, {"added", of.added}, {"refused", of.refused}};
  }
  return {{"roadsRead", counts.read},
          {"withoutName", counts.noName},
          {"withoutMainCode", counts.noMainCode},
          {"tables", std::move(tables)}};
}

nlohmann::json CommandSummaryJson(const Command& command, const Diagnostics& diagnostics, int status,
                                  double seconds, const std::string& error) {
  nlohmann::json summary = nlohmann::json::object();
  summary["command"] = command.Name();
  summary["rowsWritten"] = nlohmann::json::object();
  command.AddToSummary(summary);
  summary["rowsRefused"] = diagnostics.RefusedRows();
  summary["refusedRowsByTable"] = diagnostics.RefusedByTable();
  nlohmann::json skipped = nlohmann::json::array();
  for (const auto& vehicle : diagnostics.SkippedList()) {
    skipped.push_back({{"simId", vehicle.simId}, {"reason", vehicle.reason}});
  }
  summary["skippedVehicles"] = std::move(skipped);
  nlohmann::json failed = nlohmann::json::array();
  for (const auto& report : diagnostics.FailedReportList()) {
    failed.push_back({{"report", report.report}, {"simId", report.simId}, {"reason", report.reason}});
  }
  summary["failedReports"] = std::move(failed);
  summary["failures"] = diagnostics.FailureList();
  summary["durationSeconds"] = seconds;
  summary["status"] = status;
  summary["error"] = error.empty() ? nlohmann::json(nullptr) : nlohmann::json(error);
  return summary;
}

}  // namespace cuserver
