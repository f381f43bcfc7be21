#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "reports/diagnostics.hpp"
#include "run/day_run.hpp"
#include "run/line_alarm_run.hpp"
#include "run/road_import.hpp"

namespace cuserver {

class Command;

// One day of a day run: its counts, or why it was not computed.
struct DaySummary {
  std::string day;
  DayRunCounts counts;
  std::string notComputed;  // empty when the day ran
};

// "20140319: 2 of 2 vehicles computed (1 without fixes), 40 rows written, 0 refused, 0 reports failed,
// 0 skipped", the end line of a day run on the shape of line-alarms' line.
std::string DayRunSummaryLine(const std::string& day, const DayRunCounts& counts);

// The machine-readable counts of a day run's day, a road-segment alarm day
// and a road import.
nlohmann::json DaySummaryJson(const DaySummary& summary);
nlohmann::json LineAlarmDayJson(const std::string& day, const LineAlarmRunCounts& counts);
nlohmann::json RoadImportJson(const RoadImportCounts& counts);

// fixes, withoutPosition, otherDay, sameTime, backwards, jumps.
nlohmann::json TrackQualityJson(const TrackQuality& quality);

// The rows written per table over the days.
nlohmann::json RowsWrittenJson(const std::vector<DaySummary>& days);

// A day run command's own counts: "days", each day's counts in order, and
// "rowsWritten" over them.
void AddDaysToSummary(nlohmann::json& summary, const std::vector<DaySummary>& days);

// The one object --json prints: the command's own counts, and what the
// diagnostics told, the duration in seconds, the exit status and the error
// that ended the command (null when none).
nlohmann::json CommandSummaryJson(const Command& command, const Diagnostics& diagnostics, int status,
                                  double seconds, const std::string& error);

}  // namespace cuserver
