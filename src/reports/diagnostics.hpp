#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace cuserver {

// What a run tells beyond its run log: every refused row, failed report and
// skipped vehicle, each on one diagnostic line, and the counts that decide the
// exit status. Settings messages are counted and told once per run with the
// number of vehicles they applied to. Safe to share between threads.
class Diagnostics {
 public:
  using LineSink = std::function<void(const std::string& line)>;

  explicit Diagnostics(LineSink sink);
  // Informational lines go to infoSink (which may drop them), the rest to sink.
  Diagnostics(LineSink sink, LineSink infoSink);

  void RowRefused(std::string_view table, std::string_view simId, std::string_view reason);
  void ReportFailed(std::string_view report, std::string_view simId, std::string_view reason);
  void VehicleSkipped(std::string_view simId, std::string_view reason);
  // Any other failure of a command (for example a map table that cannot be read).
  void Failure(std::string_view message);
  // Informational: not a failure.
  void Info(std::string_view message);

  // Counts one occurrence of a settings message (one per vehicle it applied to).
  void CountMessage(std::string_view message);
  // Tells each counted message once, with its count, and forgets them.
  void FlushMessages();

  // Takes over what another Diagnostics counted (a vehicle's attempt, kept
  // apart until it is known to stand) and tells its lines.
  void Absorb(const Diagnostics& part, const std::vector<std::string>& lines);

  int RefusedRows() const;
  int FailedReports() const;
  int SkippedVehicles() const;
  int Failures() const;
  bool AnyFailure() const;
  // One line: "N rows refused, N reports failed, N vehicles skipped", or empty when none.
  std::string Summary() const;

  // What was told, for a machine-readable summary.
  struct SkippedVehicle {
    std::string simId;
    std::string reason;
  };
  struct FailedReport {
    std::string report;
    std::string simId;
    std::string reason;
  };
  std::vector<SkippedVehicle> SkippedList() const;
  std::vector<FailedReport> FailedReportList() const;
  std::map<std::string, int, std::less<>> RefusedByTable() const;
  std::vector<std::string> FailureList() const;

 private:
  void Emit(const std::string& line);

  LineSink sink_;
  LineSink infoSink_;
  bool separateInfo_ = false;
  mutable std::mutex mutex_;
  int refusedRows_ = 0;
  int failedReports_ = 0;
  int skippedVehicles_ = 0;
  int failures_ = 0;
  std::map<std::string, int, std::less<>> messages_;
  std::vector<std::string> messageOrder_;
  std::vector<SkippedVehicle> skippedList_;
  std::vector<FailedReport> failedReportList_;
  std::map<std::string, int, std::less<>> refusedByTable_;
  std::vector<std::string> failureList_;
};

}  // namespace cuserver
