#include "app/report_period.hpp"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/command_days.hpp"
#include "app/day_arguments.hpp"
#include "app/errors.hpp"
#include "reports/translate.hpp"
#include "run/day_key.hpp"

namespace cuserver {

ReportPeriod ReadReportPeriod(std::string_view day, std::string_view from, std::string_view to) {
  if (from.empty() && to.empty()) {
    if (day.empty()) throw ArgumentError(Tr("give a day (day), or a period's first and last days (from and to)"));
    const auto only = ReadableDay(day);
    return {only, only};
  }
  if (!day.empty()) throw ArgumentError(Tr("give a day (day) or a period (from, to), not both"));
  if (from.empty() || to.empty()) throw ArgumentError(Tr("a period needs its first and last days: from and to"));
  const auto last = ReadableDay(to);
  const DayRange range = ResolveDayRange(from, to, last);
  return {ReadableDay(range.from), last};
}

bool PeriodState::Complete() const { return dayState == DayStateText(DayState::Complete); }

PeriodState ReadPeriodState(const ConnectionSettings& connection, const ReportPeriod& period, int retryLimit) {
  PeriodState state;
  state.days = ReadDayStatuses(connection, {DayKeyText(period.from), DayKeyText(period.to)}, retryLimit);
  // A day whose GPS table is gone (or never was) has nothing to compute: its
  // rows are what was stored. Only a period of such days says so.
  state.dayState = DayStateText(DayState::NoGpsTable);
  for (const DayStatus& day : state.days) {
    if (day.state == DayState::NoGpsTable) continue;
    if (day.state != DayState::Complete) {
      state.dayState = DayStateText(day.state);
      break;
    }
    state.dayState = DayStateText(DayState::Complete);
  }
  return state;
}

void AddPeriodState(nlohmann::json& answer, const PeriodState& state) {
  answer["dayState"] = state.dayState;
  nlohmann::json days = nlohmann::json::array();
  for (const DayStatus& day : state.days) days.push_back({{"day", day.day}, {"state", DayStateText(day.state)}});
  answer["dayStates"] = std::move(days);
}

std::string IncompleteDaysNotice(const PeriodState& state) {
  std::string notice;
  for (const DayStatus& day : state.days) {
    if (day.state == DayState::Complete || day.state == DayState::NoGpsTable) continue;
    const char* why = day.state == DayState::NotComputed ? Tr("its rows are not written yet")
                      : day.state == DayState::Running   ? Tr("it is being computed")
                                                         : Tr("its rows may be missing");
    notice += TrFormat("{} {}: {} (cuserver run-day {} computes it)\n", day.day, DayStateWords(day.state), why,
                       day.day);
  }
  return notice;
}

}  // namespace cuserver
