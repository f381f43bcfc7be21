#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "app/command.hpp"
#include "app/report_files.hpp"
#include "db/session.hpp"

namespace cuserver {

// The day's sheets of the given kinds, read on a session of their own that
// writes nothing (throws ConnectionRefusedError when the database refuses it).
std::vector<ReportSheet> ReadReportSheets(const ConnectionSettings& connection, const std::vector<ReportQuery>& queries);

// The day's summary, read the same way.
ReportSummary ReadDaySummary(const ConnectionSettings& connection, std::chrono::year_month_day day);

// report DAYKEY [--kind KIND] [--vehicle SIMID] [--filter TEXT] [--sort COLUMN
// [--descending]] [--flagged] [--format table|csv|json|xlsx] [--output FILE]: the rows a day run wrote for a day, read back with each
// vehicle's licence plate and fleet. Reads only; runs beside a service and
// beside a day run. A workbook without --output to a terminal is refused.
class ReportCommand : public Command {
 public:
  std::string Name() const override { return "report"; }
  std::string Synopsis() const override { return "Show the report rows of one day (every kind, or one)"; }
  void AddArguments(CLI::App& command) override;
  // {"day": "20140319", "kind": "parking", "vehicle": "13800000001", "format": "csv", "output": "p.csv"};
  // "flagged": true keeps the quality rows with a count above 0
  void FromJson(const nlohmann::json& arguments) override;
  void Setup() override;
  void Run(CommandEnvironment& env) override;

 private:
  std::string dayKey_;
  std::string kind_;
  std::string vehicle_;
  std::string format_ = "table";
  std::string output_;
  std::string filter_;
  std::string sort_;
  bool descending_ = false;
  bool flagged_ = false;
  std::chrono::year_month_day day_;
  std::vector<ReportKind> kinds_;
};

}  // namespace cuserver
