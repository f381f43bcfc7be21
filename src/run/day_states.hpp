#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "db/ledger.hpp"
#include "db/session.hpp"

namespace cuserver {

// Where a day stands for an operator and for the schedule.
enum class DayState {
  Complete,            // every shard's last attempt is complete
  Incomplete,          // the last attempt ran to its end without writing everything
  Failed,              // the last attempt ended early or could not run
  WaitingForOperator,  // incomplete or failed after RetryLimit attempts: no more retries
  Running,             // an attempt is in progress (or was cut off by a crash)
  Interrupted,         // as read by an operator: running, but every running attempt's process is gone
  NotComputed,         // a GPS day table and no attempt yet
  NoGpsTable,          // no GPSDATA table for the day
};

// "complete", "incomplete", "failed", "waiting for an operator", "running",
// "interrupted", "not computed", "no GPS table"
std::string_view DayStateText(DayState state);
// The same state in the operator's language, for people to read.
const char* DayStateWords(DayState state);

struct DayStatus {
  std::string day;  // DayKey
  DayState state = DayState::NotComputed;
  int attempts = 0;          // of the last attempted shard run, 0 when none
  std::string lastEnded;     // local time text of the last attempt's end, empty when none
  std::string detail;        // the last attempt's summary
  std::vector<DayRecord> shards;  // the ledger rows of the day's runs
};

// The day-run (command kDayRunCommand) state of each day from..to (DayKeys,
// both included, real calendar dates), oldest first. A day is complete when
// shard 1/1 is complete, or every shard K/N of one N is. retryLimit is the
// number of attempts after which an unfinished day waits for an operator.
std::vector<DayStatus> DayStatuses(ReportDatabase& db, Ledger& ledger, std::string_view from, std::string_view to,
                                   int retryLimit);

// For an operator's list: a running day whose every running attempt was
// abandoned (see ClaimAbandoned, as seen from host) reads as interrupted.
// The ledger keeps "running" until the next attempt takes the day over.
void MarkInterrupted(std::vector<DayStatus>& statuses, std::string_view host, std::chrono::seconds staleAfter);

}  // namespace cuserver
