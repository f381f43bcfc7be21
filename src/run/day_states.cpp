#include "run/day_states.hpp"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <tuple>

#include "db/dialect.hpp"
#include "reports/translate.hpp"
#include "run/day_key.hpp"
#include "run/vehicle_shard.hpp"

namespace cuserver {
namespace {

bool Unfinished(DayOutcome outcome) { return outcome != DayOutcome::Complete && outcome != DayOutcome::Running; }

// Shard 1/1 complete, or every shard 1/N..N/N of one N complete.
bool EveryVehicleWritten(const std::vector<DayRecord>& rows) {
  std::map<int, std::set<int>> completeByCount;  // N -> the K of complete shards
  for (const DayRecord& row : rows) {
    if (row.outcome != DayOutcome::Complete) continue;
    if (auto shard = ParseShard(row.shard)) completeByCount[shard->count].insert(shard->number);
  }
  for (const auto& [count, numbers] : completeByCount) {
    if (static_cast<int>(numbers.size()) == count) return true;
  }
  return false;
}

// The most recently started of the rows the predicate accepts; null when none.
template <typename Accept>
const DayRecord* LastStarted(const std::vector<DayRecord>& rows, Accept accept) {
  const DayRecord* last = nullptr;
  for (const DayRecord& row : rows) {
    if (accept(row) && (last == nullptr || std::tie(row.started, row.ended) > std::tie(last->started, last->ended))) {
      last = &row;
    }
  }
  return last;
}

DayStatus StatusOf(std::string day, std::vector<DayRecord> rows, int retryLimit) {
  DayStatus status;
  status.day = std::move(day);
  for (const DayRecord& row : rows) status.lastEnded = std::max(status.lastEnded, row.ended);
  const DayRecord* shown = LastStarted(rows, [](const DayRecord&) { return true; });
  if (EveryVehicleWritten(rows)) {
    status.state = DayState::Complete;
  } else if (std::any_of(rows.begin(), rows.end(),
                         [](const DayRecord& row) { return row.outcome == DayOutcome::Running; })) {
    status.state = DayState::Running;
  } else {
    // Some shard is failed or incomplete, or a shard of the fleet was never
    // run: the day is not whole. The shard that keeps it so is shown.
    const bool anyFailed = std::any_of(rows.begin(), rows.end(), [](const DayRecord& row) {
      return row.outcome == DayOutcome::Failed || row.outcome == DayOutcome::CouldNotRun;
    });
    status.state = anyFailed ? DayState::Failed : DayState::Incomplete;
    int attempts = 0;
    for (const DayRecord& row : rows) {
      if (Unfinished(row.outcome)) attempts = std::max(attempts, row.attempts);
    }
    if (attempts >= retryLimit) status.state = DayState::WaitingForOperator;
    if (const DayRecord* unfinished = LastStarted(rows, [](const DayRecord& row) { return Unfinished(row.outcome); })) {
      shown = unfinished;
    }
  }
  if (shown != nullptr) {
    status.attempts = shown->attempts;
    status.detail = shown->detail;
  }
  status.shards = std::move(rows);
  return status;
}

}  // namespace

std::string_view DayStateText(DayState state) {
  switch (state) {
    case DayState::Complete: return "complete";
    case DayState::Incomplete: return "incomplete";
    case DayState::Failed: return "failed";
    case DayState::WaitingForOperator: return "waiting for an operator";
    case DayState::Running: return "running";
    case DayState::Interrupted: return "interrupted";
    case DayState::NotComputed: return "not computed";
    case DayState::NoGpsTable: return "no GPS table";
  }
  return "not computed";
}

const char* DayStateWords(DayState state) {
  switch (state) {
    case DayState::Complete: return Tr("complete");
    case DayState::Incomplete: return Tr("incomplete");
    case DayState::Failed: return Tr("failed");
    case DayState::WaitingForOperator: return Tr("waiting for an operator");
    case DayState::Running: return Tr("running");
    case DayState::Interrupted: return Tr("interrupted");
    case DayState::NotComputed: return Tr("not computed");
    case DayState::NoGpsTable: return Tr("no GPS table");
  }
  return Tr("not computed");
}

std::vector<DayStatus> DayStatuses(ReportDatabase& db, Ledger& ledger, std::string_view from, std::string_view to,
                                   int retryLimit) {
  std::chrono::year_month_day first;
  std::chrono::year_month_day last;
  if (!ParseDayKey(from, first) || !ParseDayKey(to, last)) return {};

  std::map<std::string, std::vector<DayRecord>> rowsByDay;
  // A database no run has recorded into yet has no ledger to read.
  if (TableExists(db, "cuserver_days")) {
    for (DayRecord& row : ledger.Days(kDayRunCommand, from, to)) rowsByDay[row.day].push_back(std::move(row));
  }

  std::vector<DayStatus> statuses;
  for (std::chrono::sys_days day{first}; day <= std::chrono::sys_days{last}; day += std::chrono::days{1}) {
    std::string key = DayKeyText(std::chrono::year_month_day{day});
    auto rows = rowsByDay.find(key);
    if (rows != rowsByDay.end()) {
      statuses.push_back(StatusOf(std::move(key), std::move(rows->second), retryLimit));
      continue;
    }
    DayStatus status;
    status.state = TableExists(db, "GPSDATA" + key) ? DayState::NotComputed : DayState::NoGpsTable;
    status.day = std::move(key);
    statuses.push_back(std::move(status));
  }
  return statuses;
}

void MarkInterrupted(std::vector<DayStatus>& statuses, std::string_view host, std::chrono::seconds staleAfter) {
  for (DayStatus& status : statuses) {
    if (status.state != DayState::Running) continue;
    // No process of this machine has pid 0: only a gone process or a stale heartbeat counts.
    const bool abandoned = std::all_of(status.shards.begin(), status.shards.end(), [&](const DayRecord& row) {
      return row.outcome != DayOutcome::Running || ClaimAbandoned(row, host, 0, staleAfter);
    });
    if (abandoned) status.state = DayState::Interrupted;
  }
}

}  // namespace cuserver
