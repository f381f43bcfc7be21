#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "db/session.hpp"
#include "reports/report_row.hpp"
#include "reports/track_quality.hpp"

namespace cuserver {

// The day ledger: this system's own tables in the report database, shared by
// every machine and every start directory that computes into it.
//   cuserver_days          one row per command, day and shard: its last attempt
//   cuserver_vehicle_days  per command, day and vehicle: the rows this system wrote
//   cuserver_requests      the runs asked for (page, API, schedule), in order
//   cuserver_service       facts of the service, such as the day it first started
//   cuserver_deliveries    per day or month: the reports sent by e-mail, its last attempt
// All times are local time texts "yyyy-mm-dd hh:mm:ss".

inline constexpr std::string_view kDayRunCommand = "run-day";
inline constexpr std::string_view kLineAlarmCommand = "line-alarms";

// How the last attempt at a day ended.
enum class DayOutcome {
  Running,      // started and not ended (or ended by a crash)
  Complete,     // every vehicle's rows written, nothing refused or failed
  Incomplete,   // ran to its end, but something was not written (vehicles lost, rows refused, reports failed)
  Failed,       // ended early, or wrote nothing (no GPS table, vehicle list not read)
  CouldNotRun,  // no database connection
};
// "running", "complete", "incomplete", "failed", "could not run"
std::string_view DayOutcomeText(DayOutcome outcome);
std::optional<DayOutcome> ParseDayOutcome(std::string_view text);

struct DayCounts {
  int vehicles = 0;       // vehicles of the shard
  int computed = 0;       // vehicles whose rows were written
  int skipped = 0;        // vehicles not computed (track not read, connection lost)
  int rowsWritten = 0;
  int rowsRefused = 0;
  int reportsFailed = 0;
};

struct DayRecord {
  std::string command;  // kDayRunCommand or kLineAlarmCommand
  std::string day;      // DayKey
  std::string shard;    // "K/N"
  int attempts = 0;
  std::string host;
  long pid = 0;
  std::string started;
  std::string ended;  // empty while running
  DayOutcome outcome = DayOutcome::Running;
  DayCounts counts;
  std::string detail;  // one line: the summary, or why it failed
  std::string heartbeat;  // UTC "yyyy-mm-dd hh:mm:ss": the running process's last sign of life
};

// A process's hold on a command's day and shard, from BeginDay to EndDay.
struct DayClaim {
  std::string command;
  std::string day;
  std::string shard;
  std::string host;
  long pid = 0;
  std::string started;
};

// A computation of the same command, day and shard is in progress elsewhere
// (this machine or another); the message names its host, process and start.
class DayClaimedError : public std::runtime_error {
 public:
  explicit DayClaimedError(DayRecord holder);
  const DayRecord& Holder() const { return holder_; }

 private:
  DayRecord holder_;
};

// How long a running day may go without a heartbeat before another process
// takes it over, and how often its process renews the heartbeat. The renewal
// itself may wait up to StatementTimeoutSeconds for a locked SQLite file or a
// busy server, so a claim turns stale only after twice that and a minute
// more (at least 5 minutes, which also covers clocks of different machines
// that differ by a little); no limit counts as the default 900 s.
struct ClaimTiming {
  std::chrono::seconds staleAfter{1860};
  std::chrono::seconds heartbeatEvery{60};
};
ClaimTiming ClaimTimingFor(const ConnectionSettings& settings);

// Whether a day recorded as running may be taken over by process pid of
// host: its process is this one or has ended on this machine, or its
// heartbeat (for rows without one, its start) is older than staleAfter.
bool ClaimAbandoned(const DayRecord& holder, std::string_view host, long pid, std::chrono::seconds staleAfter);

// The outcome of a request taken out of the queue before it started.
inline constexpr std::string_view kRequestCancelled = "cancelled";

// A run asked for and kept until it has ended, so that a restart resumes it.
struct RequestRecord {
  long long id = 0;
  std::string command;    // run-day, run-days, line-alarms, import-roads
  std::string arguments;  // the command's JSON arguments
  std::string label;      // what the operator sees
  std::string requested;
  std::string started;  // empty while waiting
  std::string ended;    // empty until it ended
  std::string outcome;  // empty until it ended; else the job's outcome text or kRequestCancelled
  std::string detail;
};

// The outcomes of a delivery's attempt.
inline constexpr std::string_view kDeliverySent = "sent";
inline constexpr std::string_view kDeliveryFailed = "failed";

// The reports of a day or month sent by e-mail: how its last attempt ended.
struct DeliveryRecord {
  std::string period;  // DayKey yyyymmdd, or yyyymm for a month
  int attempts = 0;
  std::string lastAttempt;  // local time text
  std::string outcome;      // kDeliverySent or kDeliveryFailed
  std::string detail;
};

// The statements that make the ledger's tables on a database of the dialect,
// each with its table: the CREATE TABLE of each, then the ALTER TABLE that
// adds a column added since to a ledger made before.
std::vector<std::pair<std::string, std::string>> LedgerTableStatements(SqlDialect dialect);

class Ledger {
 public:
  explicit Ledger(ReportDatabase& db) : db_(db) {}

  // Creates the ledger tables that are missing. Safe to run again, also by
  // several processes at once.
  void EnsureTables();

  // An attempt at a day begins: its row is created or its attempt count
  // raised, the outcome set to running, in one guarded statement, so that of
  // processes that begin the same command, day and shard at once, on any
  // machine, exactly one gets the claim. Throws DayClaimedError while another
  // process runs it (see ClaimAbandoned).
  DayClaim BeginDay(std::string_view command, std::string_view day, std::string_view shard, std::string_view host,
                    long pid, std::string_view started, std::chrono::seconds staleAfter = ClaimTiming{}.staleAfter);
  // Renews the claim's heartbeat while it is still this claim's.
  void RefreshClaim(const DayClaim& claim);
  // Records how the claimed attempt ended; a claim that another process has
  // taken over in the meantime is left to it.
  void EndDay(const DayClaim& claim, DayOutcome outcome, const DayCounts& counts, std::string_view ended,
              std::string_view detail);
  void EndDay(std::string_view command, std::string_view day, std::string_view shard, DayOutcome outcome,
              const DayCounts& counts, std::string_view ended, std::string_view detail);
  // The rows of days from..to (DayKeys, both included), of one command or of
  // all when command is empty, ordered by day, command and shard.
  std::vector<DayRecord> Days(std::string_view command, std::string_view from, std::string_view to);
  // Sets the attempt count of every shard of a day back to zero (an
  // operator's run starts the count anew).
  void ResetAttempts(std::string_view command, std::string_view day);

  // The first day the service was started on this database; nullopt before.
  std::optional<std::string> FirstServiceDay();
  // Records the day unless one is recorded already.
  void RecordFirstServiceDay(std::string_view day);

  // Records a request; returns its id (one more than the highest so far).
  long long AddRequest(std::string_view command, std::string_view arguments, std::string_view label,
                       std::string_view requested);
  void RequestStarted(long long id, std::string_view started);
  void RequestEnded(long long id, std::string_view ended, std::string_view outcome, std::string_view detail);
  // Ends a request that never started with the outcome kRequestCancelled, so
  // that a restart does not resume it.
  void RequestCancelled(long long id, std::string_view ended, std::string_view detail);
  // Requests not ended, oldest first (a started one was cut off by a stop).
  std::vector<RequestRecord> OpenRequests();
  // The most recent ended requests, newest first.
  std::vector<RequestRecord> RecentRequests(int count);

  // The deliveries of periods from `since` (yyyymm) on, by period.
  std::vector<DeliveryRecord> Deliveries(std::string_view since);
  // The delivery attempted last; nullopt before any.
  std::optional<DeliveryRecord> LastDelivery();
  // Records an attempt at a period: its row is created, or its attempts
  // raised, with the outcome and detail of this one.
  void RecordDelivery(std::string_view period, std::string_view attempted, std::string_view outcome,
                      std::string_view detail);

  // Per vehicle of a command's day: the serialised rows this system wrote
  // (see VehicleDayRows), by SIMID.
  std::map<std::string, std::string> VehicleDayRows(std::string_view command, std::string_view day);
  // One vehicle's entry of a command's day; nullopt when it has none.
  std::optional<std::string> VehicleDayEntry(std::string_view command, std::string_view day, std::string_view simId);
  // The rows that replace a vehicle-day's ledger entry (the removal of the
  // old one and the new one); written in the same transaction as the report
  // rows themselves, with their values bound, so an entry of any length goes in.
  std::vector<ReportRow> ReplaceVehicleDayRows(std::string_view command, std::string_view day,
                                         std::string_view simId, int rows, std::string_view serialisedRows,
                                         bool hadEntry, const TrackQuality* quality = nullptr) const;
  // What the trackers sent on a day run's day, per SIMID in SIMID order, as
  // its vehicle-days recorded it (entries written before it was counted are
  // left out).
  std::vector<std::pair<std::string, TrackQuality>> DayQuality(std::string_view day);
  struct VehicleDayQuality {
    std::string simId;
    std::string day;  // DayKey
    TrackQuality quality;
  };
  // The same of the days from..to (DayKeys, both included), by day and SIMID.
  std::vector<VehicleDayQuality> PeriodQuality(std::string_view from, std::string_view to);
  // Those counts summed over the day's vehicles, read by the (command, day)
  // key; nullopt when no vehicle-day of it counted its track.
  std::optional<TrackQuality> DayQualityTotal(std::string_view day);

 private:
  ReportDatabase& db_;
};

// Renews a claim's heartbeat every interval from a thread of its own, with a
// session of its own, until destroyed. A renewal that fails is tried again
// at the next interval.
class ClaimHeartbeat {
 public:
  ClaimHeartbeat(ConnectionSettings connection, DayClaim claim, std::chrono::seconds interval);
  ~ClaimHeartbeat();
  ClaimHeartbeat(const ClaimHeartbeat&) = delete;
  ClaimHeartbeat& operator=(const ClaimHeartbeat&) = delete;

 private:
  void Beat();

  ConnectionSettings connection_;
  DayClaim claim_;
  std::chrono::seconds interval_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

// This machine's host name.
std::string HostName();
// The local time now as "yyyy-mm-dd hh:mm:ss".
std::string LedgerNow();
// The UTC time now as "yyyy-mm-dd hh:mm:ss" (heartbeats compare across time zones).
std::string LedgerUtcNow();

}  // namespace cuserver
