#include "app/service/ledger_metrics.hpp"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "db/dialect.hpp"
#include "reports/sql_text.hpp"
#include "db/ledger.hpp"
#include "run/day_states.hpp"

namespace cuserver {
namespace {

long long Number(const std::optional<std::string>& text) { return text ? std::atoll(text->c_str()) : 0; }

// The end of the day's last complete shard.
std::string CompleteEnd(const DayStatus& status) {
  std::string ended;
  for (const DayRecord& row : status.shards) {
    if (row.outcome == DayOutcome::Complete && row.ended > ended) ended = row.ended;
  }
  return ended;
}

void SetLastComplete(const DayStatus& status, ServiceMetrics& metrics) {
  metrics.lastCompleteDay = std::atoll(status.day.c_str());
  metrics.lastCompleteDayEndedSeconds = LocalTimeSeconds(CompleteEnd(status));
}

// The newest days first, each by its key: a day run of an older version left
// its vehicle-days without counts, so a few days back are looked at, no more.
void ReadQualityMetrics(ReportDatabase& db, Ledger& ledger, ServiceMetrics& metrics) {
  constexpr std::size_t kDaysLookedAt = 31;
  std::vector<std::string> days;
  auto cursor = db.OpenQuery(fmt::format("select day from cuserver_days where command={} group by day order by day desc",
                                         SqlLiteral(kDayRunCommand)));
  for (; !cursor->AtEnd() && days.size() < kDaysLookedAt; cursor->Next()) days.push_back(cursor->Value("day").value_or(""));
  cursor->Close();
  for (const std::string& day : days) {
    const std::optional<TrackQuality> total = ledger.DayQualityTotal(day);
    if (!total) continue;
    metrics.qualityDay = std::atoll(day.c_str());
    metrics.quality = {{"fixes", total->fixes},         {"withoutPosition", total->withoutPosition},
                       {"otherDay", total->otherDay},   {"sameTime", total->sameTime},
                       {"backwards", total->backwards}, {"jumps", total->jumps}};
    return;
  }
}

}  // namespace

std::optional<long long> LocalTimeSeconds(std::string_view text) {
  std::tm tm{};
  char tail = 0;
  const std::string copy(text);
  if (std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                  &tm.tm_min, &tm.tm_sec, &tail) != 6) {
    return std::nullopt;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&tm);
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<long long>(seconds);
}

void ReadLedgerMetrics(ReportDatabase& db, const CatchUpSettings& settings, const LocalDateTime& now,
                       ServiceMetrics& metrics) {
  Ledger ledger(db);
  const int retryLimit = settings.retryLimit;
  // Until the service records its first day, the day it will record.
  std::string firstServiceDay = FirstServiceDayAt(now);
  if (TableExists(db, "cuserver_service")) firstServiceDay = ledger.FirstServiceDay().value_or(firstServiceDay);
  const bool hasDays = TableExists(db, "cuserver_days");
  if (const auto window = CatchUpWindow(now, firstServiceDay, settings)) {
    for (const DayStatus& status : DayStatuses(db, ledger, window->from, window->to, retryLimit)) {
      if (status.state == DayState::NotComputed) ++metrics.daysMissing;
      if (status.state == DayState::Failed || status.state == DayState::Incomplete ||
          status.state == DayState::WaitingForOperator) {
        ++metrics.daysFailed;
      }
      if (status.state == DayState::Complete) SetLastComplete(status, metrics);
    }
  }
  if (hasDays && !metrics.lastCompleteDay) {
    // Nothing complete in the window: the newest complete day before it,
    // judged by the same rules (a complete shard alone is not a complete day).
    std::vector<std::string> candidates;
    for (const DayRecord& row : ledger.Days(kDayRunCommand, "00000000", "99999999")) {
      if (row.outcome == DayOutcome::Complete && (candidates.empty() || candidates.back() != row.day)) {
        candidates.push_back(row.day);
      }
    }
    for (auto day = candidates.rbegin(); day != candidates.rend() && !metrics.lastCompleteDay; ++day) {
      for (const DayStatus& status : DayStatuses(db, ledger, *day, *day, retryLimit)) {
        if (status.state == DayState::Complete) SetLastComplete(status, metrics);
      }
    }
  }
  if (hasDays) {
    auto cursor = db.OpenQuery(
        "select command, sum(rows_written) as written, sum(rows_refused) as refused, sum(skipped) as skipped "
        "from cuserver_days group by command");
    for (; !cursor->AtEnd(); cursor->Next()) {
      const std::string command = cursor->Value("command").value_or("");
      metrics.rowsWritten[command] = Number(cursor->Value("written"));
      metrics.rowsRefused[command] = Number(cursor->Value("refused"));
      metrics.vehiclesSkipped[command] = Number(cursor->Value("skipped"));
    }
    cursor->Close();
  }
  if (hasDays && TableExists(db, "cuserver_vehicle_days")) ReadQualityMetrics(db, ledger, metrics);
  metrics.ledgerRead = true;
}

}  // namespace cuserver
