#pragma once

// A day or a period of stored reports as an operator asks for it (report,
// summary, the API), and where its days stand: a day never computed must not
// read as a day without rows.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "db/session.hpp"
#include "run/day_states.hpp"

namespace cuserver {

struct ReportPeriod {
  std::chrono::year_month_day from;
  std::chrono::year_month_day to;  // == from for a day
  bool IsDay() const { return from == to; }
};

// The day given alone, or the period from..to (both given): any real dates,
// from not after to, at most a year. Throws ArgumentError otherwise.
ReportPeriod ReadReportPeriod(std::string_view day, std::string_view from, std::string_view to);

// The day-run state of each day of the period, and of the period as a whole:
// "complete" when every day is, else the state of the first day that is not
// (as DayStateText words it: "not computed", "failed", ...). Days without a
// GPS table have nothing to compute and are passed over, unless every day is
// one ("no GPS table").
struct PeriodState {
  std::string dayState;
  std::vector<DayStatus> days;
  bool Complete() const;
};
PeriodState ReadPeriodState(const ConnectionSettings& connection, const ReportPeriod& period, int retryLimit);

// Adds "dayState" and "dayStates":[{"day","state"}] to an answer.
void AddPeriodState(nlohmann::json& answer, const PeriodState& state);

// What a reader of the rows is told of the days that are not complete, a line
// for each (empty when every day is): "20261207 not computed: its rows are
// not written yet (cuserver run-day 20261207 computes it)"; days without a
// GPS table are not named.
std::string IncompleteDaysNotice(const PeriodState& state);

}  // namespace cuserver
