#include "db/ledger.hpp"

#include <fmt/format.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "db/ledger_internal.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

using ledger_internal::Clipped;
using ledger_internal::IntOf;
using ledger_internal::TextOf;
using ledger_internal::TimeText;

DayRecord ReadDay(const Cursor& row) {
  DayRecord day;
  day.command = TextOf(row.Value("command"));
  day.day = TextOf(row.Value("day"));
  day.shard = TextOf(row.Value("shard"));
  day.attempts = IntOf(row.Value("attempts"));
  day.host = TextOf(row.Value("host"));
  day.pid = IntOf(row.Value("pid"));
  day.started = TextOf(row.Value("started"));
  day.ended = TextOf(row.Value("ended"));
  day.outcome = ParseDayOutcome(TextOf(row.Value("outcome"))).value_or(DayOutcome::Running);
  day.counts.vehicles = IntOf(row.Value("vehicles"));
  day.counts.computed = IntOf(row.Value("computed"));
  day.counts.skipped = IntOf(row.Value("skipped"));
  day.counts.rowsWritten = IntOf(row.Value("rows_written"));
  day.counts.rowsRefused = IntOf(row.Value("rows_refused"));
  day.counts.reportsFailed = IntOf(row.Value("reports_failed"));
  day.detail = TextOf(row.Value("detail"));
  try {
    day.heartbeat = TextOf(row.Value("heartbeat"));
  } catch (const DatabaseError&) {
    // A ledger made before heartbeats, not yet brought up to date by EnsureTables.
  }
  return day;
}

std::string DayKeyCondition(std::string_view command, std::string_view day, std::string_view shard) {
  return fmt::format("command={} and day={} and shard={}", SqlLiteral(command), SqlLiteral(day), SqlLiteral(shard));
}

// The row of the claim's day while it is still the claim's.
std::string ClaimCondition(const DayClaim& claim) {
  return fmt::format("{} and outcome='running' and host={} and pid={} and started={}",
                     DayKeyCondition(claim.command, claim.day, claim.shard), SqlLiteral(claim.host), claim.pid,
                     SqlLiteral(claim.started));
}

bool ProcessGone(long pid) {
  if (pid <= 0) return true;
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

std::optional<DayRecord> ReadDayRow(ReportDatabase& db, const std::string& where) {
  auto cursor = db.OpenQuery("select * from cuserver_days where " + where);
  std::optional<DayRecord> row;
  if (!cursor->AtEnd()) row = ReadDay(*cursor);
  cursor->Close();
  return row;
}

bool HeldBy(const std::optional<DayRecord>& row, const DayClaim& claim) {
  return row && row->outcome == DayOutcome::Running && row->host == claim.host && row->pid == claim.pid &&
         row->started == claim.started;
}

// The number of shards N of a shard text "K/N"; 0 when it is not one.
int ShardCount(std::string_view shard) {
  const auto slash = shard.find('/');
  return slash == std::string_view::npos ? 0 : std::atoi(std::string(shard.substr(slash + 1)).c_str());
}

// A live claim on the same command and day under another split of the fleet
// (a whole-day run beside a shard run, 1/2 beside 1/3): such runs share
// vehicles, whose ledger entries and rows both would write. Shards of one
// split hold vehicles apart and run side by side.
std::optional<DayRecord> OverlappingClaim(ReportDatabase& db, std::string_view command, std::string_view day,
                                          std::string_view shard, std::string_view host, long pid,
                                          std::chrono::seconds staleAfter) {
  auto cursor = db.OpenQuery(fmt::format(
      "select * from cuserver_days where command={} and day={} and shard<>{} and outcome='running'",
      SqlLiteral(command), SqlLiteral(day), SqlLiteral(shard)));
  std::vector<DayRecord> running;
  for (; !cursor->AtEnd(); cursor->Next()) running.push_back(ReadDay(*cursor));
  cursor->Close();
  for (DayRecord& other : running) {
    if (ShardCount(other.shard) == ShardCount(shard) && ShardCount(shard) > 0) continue;
    if (!ClaimAbandoned(other, host, pid, staleAfter)) return std::move(other);
  }
  return std::nullopt;
}

// Puts the day's row back as it was before this claim took it (removes it
// when the claim made it).
void GiveBack(ReportDatabase& db, const DayClaim& claim, const std::optional<DayRecord>& before) {
  if (!before) {
    db.ExecuteStatement("delete from cuserver_days where " + ClaimCondition(claim));
    return;
  }
  const auto textOrNull = [](const std::string& text) { return text.empty() ? std::string("NULL") : SqlLiteral(text); };
  db.ExecuteStatement(fmt::format(
      "update cuserver_days set attempts={}, host={}, pid={}, started={}, ended={}, outcome={}, vehicles={}, "
      "computed={}, skipped={}, rows_written={}, rows_refused={}, reports_failed={}, detail={}, heartbeat={} where {}",
      before->attempts, SqlLiteral(before->host), before->pid, SqlLiteral(before->started),
      textOrNull(before->ended), SqlLiteral(DayOutcomeText(before->outcome)), before->counts.vehicles,
      before->counts.computed, before->counts.skipped, before->counts.rowsWritten, before->counts.rowsRefused,
      before->counts.reportsFailed, textOrNull(before->detail), textOrNull(before->heartbeat),
      ClaimCondition(claim)));
}

}  // namespace

std::string_view DayOutcomeText(DayOutcome outcome) {
  switch (outcome) {
    case DayOutcome::Running: return "running";
    case DayOutcome::Complete: return "complete";
    case DayOutcome::Incomplete: return "incomplete";
    case DayOutcome::Failed: return "failed";
    case DayOutcome::CouldNotRun: return "could not run";
  }
  return "running";
}

std::optional<DayOutcome> ParseDayOutcome(std::string_view text) {
  for (DayOutcome outcome : {DayOutcome::Running, DayOutcome::Complete, DayOutcome::Incomplete, DayOutcome::Failed,
                             DayOutcome::CouldNotRun}) {
    if (DayOutcomeText(outcome) == text) return outcome;
  }
  return std::nullopt;
}

DayClaim Ledger::BeginDay(std::string_view command, std::string_view day, std::string_view shard,
                          std::string_view host, long pid, std::string_view started, std::chrono::seconds staleAfter) {
  const DayClaim claim{std::string(command), std::string(day), std::string(shard), Clipped(host, 100), pid,
                       std::string(started)};
  const std::string where = DayKeyCondition(command, day, shard);
  // A run of another split is looked for before the claim and again after
  // it: of two that claim at once, each sees the other at its second look
  // at the latest, so they never both go on (both may give way).
  const auto overlapping = [&] { return OverlappingClaim(db_, command, day, shard, claim.host, pid, staleAfter); };
  const auto claimed = [&](const std::optional<DayRecord>& before) {
    if (auto other = overlapping()) {
      GiveBack(db_, claim, before);
      throw DayClaimedError(std::move(*other));
    }
    return claim;
  };
  if (auto other = overlapping()) throw DayClaimedError(std::move(*other));
  // Each round reads the row and changes it only if it is still as read; a
  // round that loses a race to another process reads again.
  for (int round = 0; round < 5; ++round) {
    const std::optional<DayRecord> current = ReadDayRow(db_, where);
    if (!current) {
      bool inserted = false;
      try {
        db_.ExecuteStatement(fmt::format(
            "insert into cuserver_days (command, day, shard, attempts, host, pid, started, outcome, heartbeat) "
            "values ({}, {}, {}, 1, {}, {}, {}, 'running', {})",
            SqlLiteral(command), SqlLiteral(day), SqlLiteral(shard), SqlLiteral(claim.host), pid, SqlLiteral(started),
            SqlLiteral(LedgerUtcNow())));
        inserted = true;
      } catch (const DatabaseError&) {
        if (!ReadDayRow(db_, where)) throw;  // not a row inserted first by another process
      }
      if (inserted) return claimed(current);
      continue;
    }
    std::string asRead = "(outcome is null or outcome<>'running')";
    if (current->outcome == DayOutcome::Running) {
      if (!ClaimAbandoned(*current, claim.host, pid, staleAfter)) throw DayClaimedError(*current);
      asRead = fmt::format("outcome='running' and host={} and pid={} and started={} and {}", SqlLiteral(current->host),
                           current->pid, SqlLiteral(current->started),
                           current->heartbeat.empty() ? std::string("heartbeat is null")
                                                      : "heartbeat=" + SqlLiteral(current->heartbeat));
    }
    db_.ExecuteStatement(fmt::format(
        "update cuserver_days set attempts=attempts+1, host={}, pid={}, started={}, ended=NULL, outcome='running', "
        "vehicles=0, computed=0, skipped=0, rows_written=0, rows_refused=0, reports_failed=0, detail=NULL, "
        "heartbeat={} where {} and {}",
        SqlLiteral(claim.host), pid, SqlLiteral(started), SqlLiteral(LedgerUtcNow()), where, asRead));
    if (HeldBy(ReadDayRow(db_, where), claim)) return claimed(current);
  }
  throw DatabaseError(fmt::format("{} {} (shard {}): its day ledger row kept changing while it was claimed", command,
                                  day, shard));
}

void Ledger::RefreshClaim(const DayClaim& claim) {
  db_.ExecuteStatement(fmt::format("update cuserver_days set heartbeat={} where {}", SqlLiteral(LedgerUtcNow()),
                                   ClaimCondition(claim)));
}

void Ledger::EndDay(const DayClaim& claim, DayOutcome outcome, const DayCounts& counts, std::string_view ended,
                    std::string_view detail) {
  db_.ExecuteStatement(fmt::format(
      "update cuserver_days set ended={}, outcome={}, vehicles={}, computed={}, skipped={}, rows_written={}, "
      "rows_refused={}, reports_failed={}, detail={} where {}",
      SqlLiteral(ended), SqlLiteral(DayOutcomeText(outcome)), counts.vehicles, counts.computed, counts.skipped,
      counts.rowsWritten, counts.rowsRefused, counts.reportsFailed, SqlLiteral(Clipped(detail, 1000)),
      ClaimCondition(claim)));
}

void Ledger::EndDay(std::string_view command, std::string_view day, std::string_view shard, DayOutcome outcome,
                    const DayCounts& counts, std::string_view ended, std::string_view detail) {
  db_.ExecuteStatement(fmt::format(
      "update cuserver_days set ended={}, outcome={}, vehicles={}, computed={}, skipped={}, rows_written={}, "
      "rows_refused={}, reports_failed={}, detail={} where {}",
      SqlLiteral(ended), SqlLiteral(DayOutcomeText(outcome)), counts.vehicles, counts.computed, counts.skipped,
      counts.rowsWritten, counts.rowsRefused, counts.reportsFailed, SqlLiteral(Clipped(detail, 1000)),
      DayKeyCondition(command, day, shard)));
}

std::vector<DayRecord> Ledger::Days(std::string_view command, std::string_view from, std::string_view to) {
  std::string query = fmt::format("select * from cuserver_days where day >= {} and day <= {}", SqlLiteral(from),
                                  SqlLiteral(to));
  if (!command.empty()) query += " and command=" + SqlLiteral(command);
  query += " order by day, command, shard";
  std::vector<DayRecord> days;
  auto cursor = db_.OpenQuery(query);
  for (; !cursor->AtEnd(); cursor->Next()) days.push_back(ReadDay(*cursor));
  cursor->Close();
  return days;
}

void Ledger::ResetAttempts(std::string_view command, std::string_view day) {
  db_.ExecuteStatement(fmt::format("update cuserver_days set attempts=0 where command={} and day={}",
                                   SqlLiteral(command), SqlLiteral(day)));
}

DayClaimedError::DayClaimedError(DayRecord holder)
    : std::runtime_error(fmt::format(
          "{} {} (shard {}) is being computed by process {} on {} since {}; it is not computed twice at once",
          holder.command, holder.day, holder.shard, holder.pid, holder.host, holder.started)),
      holder_(std::move(holder)) {}

ClaimTiming ClaimTimingFor(const ConnectionSettings& settings) {
  const std::chrono::seconds statementLimit(settings.statementTimeoutSeconds > 0 ? settings.statementTimeoutSeconds
                                                                                 : 900);
  ClaimTiming timing;
  timing.staleAfter = std::max(2 * statementLimit + std::chrono::seconds(60), std::chrono::seconds(300));
  timing.heartbeatEvery = std::min(std::chrono::seconds(60), timing.staleAfter / 10);
  return timing;
}

bool ClaimAbandoned(const DayRecord& holder, std::string_view host, long pid, std::chrono::seconds staleAfter) {
  if (holder.host == host && (holder.pid == pid || ProcessGone(holder.pid))) return true;
  const std::time_t staleBefore = std::time(nullptr) - static_cast<std::time_t>(staleAfter.count());
  if (holder.heartbeat.empty()) return holder.started < TimeText(staleBefore, false);
  return holder.heartbeat < TimeText(staleBefore, true);
}

}  // namespace cuserver
